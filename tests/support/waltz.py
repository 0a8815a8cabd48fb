"""A waltz whose bars stand out, for the tests of the bars: bars of
three beats from 0.5 s, a low thump and a new chord on each bar's first
beat, the chord an octave up and quieter on the others."""
import numpy as np


def waltz_frames(bpm=120, rate=22050, bars=16):
    """The waltz as 16-bit stereo frames (frames x 2, int16)."""
    beat = 60 / bpm
    samples = np.zeros(int(rate * (beat * 3 * bars + 1)))
    t = np.arange(int(0.25 * rate)) / rate
    roots = [110.0, 146.83, 164.81, 98.0]
    for index in range(bars * 3):
        root = roots[(index // 3) % len(roots)]
        first = index % 3 == 0
        chord = sum(np.sin(2 * np.pi * root * (1 if first else 2) * ratio * t) for ratio in (1, 1.26, 1.5))
        sound = chord * np.exp(-t * 12) * (0.2 if first else 0.12)
        if first:
            sound += np.sin(2 * np.pi * 60 * t) * np.exp(-t * 20) * 0.8
        at = int((0.5 + index * beat) * rate)
        samples[at:at + len(t)] += sound[:len(samples) - at]
    mono = np.round(samples / np.abs(samples).max() * 26000).astype(np.int16)
    return np.stack([mono, mono], axis=1)
