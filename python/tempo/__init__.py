"""The tempo of music, as the tempo and tempo-scan programs measure it.

analyse(samples, sample_rate) reads a NumPy array, analyse_file(path) a
file; both return a Result. The accurate method (the default) is
tempo-scan's; the classic one is tempo's, whole BPM from 60 to 239.
"""
from ._tempo import DecodeError, Result, __version__, analyse, analyse_file

__all__ = ["DecodeError", "Result", "__version__", "analyse", "analyse_file"]
