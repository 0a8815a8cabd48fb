import os
from typing import Literal, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

_Method = Literal["accurate", "classic"]
_Samples = Union[npt.NDArray[np.int16], npt.NDArray[np.float32], npt.NDArray[np.float64]]
_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

class DecodeError(Exception):
    """A file that holds no audio this tool can decode."""

    filename: _Path

class Result:
    """The analysis of one piece of audio: tempo-scan's record of it."""

    @property
    def bpm(self) -> Optional[int]: ...
    @property
    def tempo(self) -> Optional[float]: ...
    @property
    def confidence(self) -> Optional[float]: ...
    @property
    def status(self) -> Literal["ok", "no tempo"]: ...
    @property
    def method(self) -> _Method: ...
    @property
    def beats(self) -> list[float]: ...
    @property
    def tempo_changes(self) -> list[Tuple[float, float]]: ...
    @property
    def downbeats(self) -> list[float]: ...
    @property
    def metre(self) -> Optional[int]: ...
    @property
    def ends_early(self) -> bool: ...

def analyse(
    samples: _Samples,
    sample_rate: int,
    method: _Method = "accurate",
    range: Optional[Tuple[int, int]] = None,
) -> Result:
    """The tempo of the audio in a NumPy array (frames, or frames x channels)."""

def analyse_file(
    path: _Path,
    method: _Method = "accurate",
    range: Optional[Tuple[int, int]] = None,
) -> Result:
    """The tempo of an audio file, read as tempo-scan reads it."""
