"""What the Python module's tests share: the programs built beside the
module (named by CTest in the environment) and the clips they make."""
import os
import pathlib
import shutil
import subprocess
import wave

import numpy as np
import pytest


def pytest_configure(config):
    config.addinivalue_line("markers", "timing: compares wall times; run alone (CTest runs it serially)")


def program(variable):
    path = os.environ.get(variable)
    if not path or not os.access(path, os.X_OK):
        pytest.fail(f"{variable} must name the built program (CTest sets it)")
    return path


@pytest.fixture(scope="session")
def programs():
    return {
        "tempo": program("TEMPO_PROGRAM"),
        "tempo-scan": program("TEMPO_SCAN_PROGRAM"),
        "beatgen": program("BEATGEN_PROGRAM"),
    }


class Clips:
    """Clips made on demand in one folder, each once per session."""

    def __init__(self, folder, programs):
        self.folder = folder
        self.programs = programs

    def beats(self, bpm, rate, seconds):
        path = self.folder / f"clip-{bpm}-{rate}-{seconds}.wav"
        if not path.exists():
            subprocess.run([self.programs["beatgen"], str(bpm), str(rate), str(seconds), str(path)],
                           check=True, stdout=subprocess.DEVNULL)
        return path

    def samples(self, name, samples, rate):
        """A 16-bit stereo WAVE of `samples` (frames x 2, int16)."""
        path = self.folder / f"{name}.wav"
        with wave.open(str(path), "wb") as out:
            out.setnchannels(2)
            out.setsampwidth(2)
            out.setframerate(rate)
            out.writeframes(np.ascontiguousarray(samples, dtype="<i2").tobytes())
        return path

    def pair(self, left_bpm, right_bpm, rate, seconds, left_gain):
        """A WAVE whose right channel is one clip's and left channel
        another's at `left_gain` (0: silence), so that a reading of one
        channel for both shows."""
        left, _ = read_wave(self.beats(left_bpm, rate, seconds))
        right, _ = read_wave(self.beats(right_bpm, rate, seconds))
        quieter = np.round(left[:, 0] * left_gain).astype(np.int16)
        name = f"pair-{left_bpm}-{right_bpm}-{rate}-{left_gain}"
        return self.samples(name, np.stack([quieter, right[:, 1]], axis=1), rate)

    def encoded(self, source, extension, *options):
        """`source` as ffmpeg encodes it into a file of `extension`."""
        ffmpeg = shutil.which("ffmpeg")
        if ffmpeg is None:
            pytest.fail("the ffmpeg program is needed (apt-get install ffmpeg)")
        path = source.with_suffix(extension)
        if not path.exists():
            subprocess.run([ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-i", str(source), *options, str(path)],
                           check=True)
        return path


@pytest.fixture(scope="session")
def clips(tmp_path_factory, programs):
    return Clips(tmp_path_factory.mktemp("clips"), programs)


def read_wave(path):
    """The samples of a 16-bit stereo WAVE as (frames x 2 int16, rate), by
    Python's own reader."""
    with wave.open(str(path), "rb") as clip:
        assert clip.getnchannels() == 2 and clip.getsampwidth() == 2
        frames = clip.readframes(clip.getnframes())
        return np.frombuffer(frames, dtype="<i2").reshape(-1, 2).astype(np.int16), clip.getframerate()


@pytest.fixture(scope="session")
def read():
    return read_wave


@pytest.fixture(scope="session")
def folder(tmp_path_factory):
    return pathlib.Path(tmp_path_factory.mktemp("files"))
