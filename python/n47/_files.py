"""Reading fixed-size files and replacing files safely, as the library does with its maps."""

import contextlib
import errno
import os
import stat
import sys
import tempfile

import numpy as np

_O_BINARY = getattr(os, "O_BINARY", 0)
_O_NONBLOCK = getattr(os, "O_NONBLOCK", 0)
_O_CLOEXEC = getattr(os, "O_CLOEXEC", 0)
_O_NOCTTY = getattr(os, "O_NOCTTY", 0)


_NAME_MAX = 255  # bytes in one name, where the folder does not say


def text_path(path, what):
    """A str, bytes or path-like path as a str, refused when its trailing slash names a folder."""
    text = os.fsdecode(os.fspath(path))
    if text.endswith(os.sep) or (os.altsep and text.endswith(os.altsep)):
        raise ValueError(f"{text}: ends with a slash, so it names a folder, not {what}")
    return text


def checked_array(value, shape, dtype, name):
    """`value` itself when it is an array of exactly this shape and dtype (any byte order)."""
    if not isinstance(value, np.ndarray):
        raise TypeError(f"{name} must be a numpy array of {np.dtype(dtype).name}, not {type(value).__name__}")
    wanted = np.dtype(dtype)
    if value.dtype.kind != wanted.kind or value.dtype.itemsize != wanted.itemsize or value.dtype.fields:
        raise TypeError(f"{name} must have dtype {wanted.name}, not {value.dtype}")
    if value.shape != tuple(shape):
        raise ValueError(f"{name} must have shape {tuple(shape)}, not {value.shape}")
    return value


def read_into(path, destination, what):
    """Fills `destination` (a writable buffer) with the whole of a regular file of exactly its size.

    The file is opened without blocking, so a FIFO with no writer cannot hang the caller, and
    the open descriptor is checked, so the file read is the file tested.
    """
    path = text_path(path, what)
    view = memoryview(destination).cast("B")
    size = view.nbytes
    fd = os.open(path, os.O_RDONLY | _O_BINARY | _O_NONBLOCK | _O_NOCTTY | _O_CLOEXEC)
    try:
        status = os.fstat(fd)
        if not stat.S_ISREG(status.st_mode):
            raise ValueError(f"{path}: not a regular file, so not {what}")
        if status.st_size != size:
            raise ValueError(f"{path}: {status.st_size:,} bytes; {what} has exactly {size:,}")
        file = os.fdopen(fd, "rb", buffering=0)
    except BaseException:
        os.close(fd)
        raise
    with file:
        done = 0
        while done < size:
            got = file.readinto(view[done:])
            if not got:
                raise ValueError(f"{path}: ended after {done:,} bytes; {what} has {size:,}")
            done += got
        if file.read(1):
            raise ValueError(f"{path}: longer than {size:,} bytes, so not {what}")
    return destination


def _new_file_mode():
    """The mode an ordinary new file gets (0666 less the umask), read without changing the umask."""
    try:
        with open("/proc/self/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return 0o666 & ~int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return 0o666 & ~mask


def _sync_folder(folder):
    """Flushes the folder entry the rename changed, as far as the system allows.

    A folder that cannot be opened, or a file system that cannot flush one, leaves the new
    file in place all the same; only a failed flush is an error.
    """
    if sys.platform == "win32":
        return  # a folder cannot be opened there
    try:
        fd = os.open(folder, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0) | _O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError as error:
        if error.errno != errno.EINVAL:
            raise
    finally:
        os.close(fd)


def temporary_prefix(folder, name):
    """The prefix of a temporary for `name` in `folder`: a dot, the name, a dot; the name is cut
    short so that the whole temporary (8 random characters and ".tmp" follow) is a legal name
    whenever `name` is."""
    try:
        limit = os.pathconf(folder or ".", "PC_NAME_MAX")
    except (OSError, ValueError, AttributeError):
        limit = _NAME_MAX
    room = max(1, min(limit, _NAME_MAX) - len(".." + "x" * 8 + ".tmp"))
    stem = name
    while len(os.fsencode(stem)) > room:
        stem = stem[:-1]
    return "." + stem + "."


@contextlib.contextmanager
def replacing(path, what):
    """A binary file object for the new content of `path` (`what` names it in refusals), put in
    its place when the block ends.

    An existing target must be a regular file once symlinks are followed (a link to nothing
    is refused too); a symlink stays a symlink and the file it points to is replaced. The new
    content goes to a uniquely named temporary beside that file, made exclusively, is flushed
    to the disk, takes the existing file's permission bits and is renamed over it; the folder
    is then flushed too. On any failure the temporary is removed and an existing target is
    left as it was.
    """
    path = text_path(path, what)
    target = os.path.realpath(path)
    try:
        status = os.stat(target)
    except FileNotFoundError:
        if os.path.islink(path):
            raise ValueError(f"{path}: a link to nothing; it is left alone") from None
        status = None
    if status is not None and not stat.S_ISREG(status.st_mode):
        kind = "a folder" if stat.S_ISDIR(status.st_mode) else "not a regular file"
        raise ValueError(f"{path}: exists and is {kind}; it is left alone")
    folder, name = os.path.split(target)
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=temporary_prefix(folder, name), suffix=".tmp")
    try:
        with os.fdopen(fd, "w+b") as out:
            yield out
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, stat.S_IMODE(status.st_mode) if status is not None else _new_file_mode())
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
    _sync_folder(folder or ".")


def replace_file(path, data, what):
    """Replaces the file at `path` with the bytes of `data` so that it is never seen half-written
    (see `replacing`)."""
    with replacing(path, what) as out:
        out.write(memoryview(np.ascontiguousarray(data)).cast("B"))


def why_unwritable(path, size):
    """Why a file of `size` bytes cannot be written at `path`, as the system says it, found by
    making (and removing) a file of that size beside it; None when that succeeds."""
    folder = os.path.dirname(os.path.abspath(path))
    try:
        os.lstat(path)  # a name too long, a file where a folder should be, a folder without access
    except FileNotFoundError:
        pass
    except OSError as error:
        return error.strerror
    try:
        fd, probe = tempfile.mkstemp(dir=folder, prefix=".n47-probe.", suffix=".tmp")
    except OSError as error:
        return f"{error.strerror} (in {folder})"
    try:
        if hasattr(os, "posix_fallocate"):
            os.posix_fallocate(fd, 0, size)
        return None
    except OSError as error:
        return None if error.errno in (errno.EOPNOTSUPP, errno.EINVAL) else error.strerror
    finally:
        os.close(fd)
        os.unlink(probe)
