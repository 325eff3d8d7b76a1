"""penamo: gradation smoothing through luma-reduction filters, on numpy arrays and files.

Each filter keeps every pixel's chroma and reduces only its luma; the results are exactly the
bytes penamo-filter writes. A thin client of libpenamo's C interface (penamo.h)::

    import numpy, penamo
    pixels, metadata = penamo.read("photo.png", depth=16)
    out = penamo.filter(pixels, "diffusion", levels=4, grey=True)
    penamo.save(pixels, "panel.png", "diffusion", levels=4, grey=True, metadata=metadata)

Failures raise penamo.Error subclasses carrying the message, reason and cause.
"""

from ._penamo import (
    API_VERSION,
    CancelledError,
    Error,
    InternalError,
    InvalidArgumentError,
    OutOfMemoryError,
    ReadError,
    RefusedError,
    TooLargeError,
    UnsupportedError,
    WriteError,
    __version__,
    filter,
    filter_file,
    filters,
    formats,
    read,
    save,
)

__all__ = [
    "API_VERSION",
    "CancelledError",
    "Error",
    "InternalError",
    "InvalidArgumentError",
    "OutOfMemoryError",
    "ReadError",
    "RefusedError",
    "TooLargeError",
    "UnsupportedError",
    "WriteError",
    "__version__",
    "filter",
    "filter_file",
    "filters",
    "formats",
    "read",
    "save",
]
