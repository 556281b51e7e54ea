import faulthandler
import os
import subprocess
import sys

import numpy as np
import pytest

import n47

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@pytest.fixture(scope="session")
def sim():
    return n47.Simulator()


@pytest.fixture
def detector(sim):
    """A fresh detector against a simulator in its power-on state."""
    sim.reset()
    with n47.Detector() as detector:
        yield detector


@pytest.fixture
def calibrated(detector):
    """A fresh detector that has completed a calibration series of one flat."""
    detector.calibrate([flat()], pictures=False)
    return detector


@pytest.fixture
def no_hang():
    """Fails the run instead of waiting for ever (a FIFO opened the blocking way)."""
    faulthandler.dump_traceback_later(30, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "fifo"
    os.mkfifo(path)
    return path


def flat(level=1000):
    return np.full(n47.frames.SHAPE, level, np.uint16)


def ramp(scale=1):
    rows, columns = np.indices(n47.frames.SHAPE)
    return (scale * (rows + columns)).astype(np.uint16)


def run_python(code, **env):
    """Runs `code` in a fresh interpreter; its stdout, or the failure with both streams. A crash,
    or anything on standard error (an exception ignored at exit, say), is a failure."""
    environment = dict(os.environ, **env)
    done = subprocess.run([sys.executable, "-X", "faulthandler", "-c", code], capture_output=True, text=True,
                          env=environment, timeout=300)
    assert done.returncode == 0 and not done.stderr, done.stdout + done.stderr
    return done.stdout
