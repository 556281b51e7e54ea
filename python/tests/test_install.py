import os
import shutil
import subprocess
import sys

from n47 import _library
from conftest import PYTHON_DIR, run_python

LIBRARY_DIR = os.environ["N47_LIBRARY_DIR"]


def test_the_argument_decides_before_the_environment_before_the_install(monkeypatch, tmp_path):
    monkeypatch.setenv("N47_LIBRARY_DIR", str(tmp_path))
    assert _library.chosen_folder("/given") == ("/given", "the library_dir argument")
    assert _library.chosen_folder() == (str(tmp_path), "N47_LIBRARY_DIR")
    monkeypatch.delenv("N47_LIBRARY_DIR")
    assert _library.chosen_folder() == (None, "the system loader")  # a source tree has no _install.py


def test_a_folder_without_the_libraries_is_an_error_naming_it(tmp_path):
    out = run_python(
        "import n47\n"
        "try:\n"
        f"    n47.Detector(library_dir={str(tmp_path)!r})\n"
        "except n47.DetectorError as error:\n"
        "    print(error)\n")
    assert out.strip() == f"{tmp_path} (from the library_dir argument) holds no {_library.file_name('USB_FRM01')}"


def test_pip_installs_the_package_and_it_finds_the_libraries_it_was_installed_with(tmp_path):
    source = tmp_path / "source"
    shutil.copytree(PYTHON_DIR, source, ignore=shutil.ignore_patterns("tests", "__pycache__", "build", "*.egg-info"))
    # Debian's interpreter installs nothing system-wide with pip; a virtual environment that
    # sees Debian's numpy and pip is the way, as the README says.
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", str(tmp_path / "env")],
                   check=True)
    python = str(tmp_path / "env" / "bin" / "python")
    environment = {key: value for key, value in os.environ.items() if key not in ("N47_LIBRARY_DIR", "PYTHONPATH")}
    subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-deps", "--no-build-isolation", "--no-index",
                    str(source)], check=True, capture_output=True, env=environment)
    check = "import n47, n47._library as lib; print(n47.__file__, lib.chosen_folder()[1], sep='\\n')\n"
    file, source_name = subprocess.run([python, "-c", check], env=environment, cwd=tmp_path, capture_output=True,
                                       text=True, check=True).stdout.splitlines()
    package = os.path.dirname(file)
    assert package.startswith(str(tmp_path / "env")) and source_name == "the system loader"
    # What an install step writes beside the package: the library folder, relative to it.
    with open(os.path.join(package, "_install.py"), "w") as module:
        module.write(f"LIBRARY_DIR = {os.path.relpath(LIBRARY_DIR, package)!r}\n")
    done = subprocess.run(
        [python, "-c",
         "import n47, n47._library as lib\n"
         "with n47.Detector() as detector:\n"
         "    print(lib._loaded.driver_path, lib._loaded.source, detector.connected, sep='\\n')\n"],
        env=environment, cwd=tmp_path, capture_output=True, text=True, check=True)
    driver, source_name, connected = done.stdout.splitlines()
    assert os.path.samefile(driver, os.path.join(LIBRARY_DIR, _library.file_name("Tavrin_N47_USB_REF")))
    assert (source_name, connected) == ("the folder the package was installed with", "True")
