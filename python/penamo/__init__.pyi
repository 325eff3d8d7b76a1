# Type stub of the penamo package (its compiled half is penamo._penamo).
import os
from typing import Any, Callable, Literal, Optional, TypedDict, Union

import numpy
import numpy.typing

__version__: str
API_VERSION: int

Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
# Arrays of uint8 or uint16: H×W, H×W×1, H×W×2, H×W×3 or H×W×4; anything numpy.asarray takes
# (a Pillow image included).
Pixels = Union[numpy.typing.NDArray[numpy.uint8], numpy.typing.NDArray[numpy.uint16], Any]
Progress = Optional[Callable[[float], Any]]
Light = Literal["linear", "encoded"]
Format = Optional[Literal["png", "bmp", "by-name"]]

class Metadata(TypedDict):
    icc_profile: Optional[bytes]
    exif: Optional[bytes]
    xmp: Optional[bytes]

class FilterInfo(TypedDict):
    name: str
    caption: str
    strength: Optional[tuple[int, int, int]]
    levels: Optional[tuple[int, int, int]]
    fixed_levels: Optional[int]

class Error(Exception):
    message: str
    reason: str
    cause: str
    error_class: str
    status: str

class InvalidArgumentError(Error, ValueError): ...
class UnsupportedError(Error): ...
class ReadError(Error): ...
class TooLargeError(Error): ...
class WriteError(Error): ...
class OutOfMemoryError(Error): ...
class RefusedError(Error): ...
class CancelledError(Error): ...
class InternalError(Error): ...

class FormatInfo(TypedDict):
    name: str
    extensions: list[str]
    mime_types: list[str]
    writable: bool

def filters() -> list[FilterInfo]: ...
def formats() -> list[FormatInfo]: ...
def filter(
    pixels: Pixels,
    filter: str,
    *,
    strength: Optional[int] = None,
    levels: Optional[int] = None,
    grey: bool = False,
    light: Optional[Light] = None,
    threads: int = 0,
    out: Optional[numpy.typing.NDArray[numpy.uint8]] = None,
    progress: Progress = None,
) -> numpy.typing.NDArray[numpy.uint8]: ...
def read(
    path: Path, depth: Literal[0, 8, 16] = 0, *, trusted: bool = False, progress: Progress = None
) -> tuple[Union[numpy.typing.NDArray[numpy.uint8], numpy.typing.NDArray[numpy.uint16]], Metadata]: ...
def save(
    pixels: Pixels,
    path: Path,
    filter: str = "none",
    *,
    format: Format = None,
    strength: Optional[int] = None,
    levels: Optional[int] = None,
    grey: bool = False,
    light: Optional[Light] = None,
    strip: bool = False,
    threads: int = 0,
    metadata: Optional[Metadata] = None,
    icc_profile: Optional[bytes] = None,
    exif: Optional[bytes] = None,
    xmp: Optional[bytes] = None,
    progress: Progress = None,
) -> None: ...
def filter_file(
    input: Path,
    output: Path,
    filter: str = "none",
    *,
    format: Format = None,
    strength: Optional[int] = None,
    levels: Optional[int] = None,
    grey: bool = False,
    light: Optional[Light] = None,
    strip: bool = False,
    threads: int = 0,
    trusted: bool = False,
    progress: Progress = None,
) -> None: ...
