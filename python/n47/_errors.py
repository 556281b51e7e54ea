class DetectorError(Exception):
    """The detector library refused or failed an operation; the message gives the reason."""


class CaptureTimeout(DetectorError):
    """No frame came within the library's capture time-out."""
