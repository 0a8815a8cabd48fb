#!/usr/bin/env python3
"""Tiny music files of the kinds people keep beside their recordings,
written from nothing, so no binary fixture is committed: a ProTracker
module (.mod), a FastTracker 2 module (.xm) and a chip-music log (.vgm).
Each plays one short percussive sound on every beat: the modules at their
default speed and tempo (6 ticks a row at 125, which is 125 BPM at four
rows a beat), the log every half second (120 BPM).

    make_music_files.py FOLDER    writes FOLDER/beat.mod, beat.xm, beat.vgm
"""
import os
import random
import struct
import sys

ROWS = 64
ORDERS = 4  # the one pattern, four times over: about 31 s


def click(length):
    """A decaying burst of noise, signed 8-bit, the same every run."""
    rng = random.Random(7)
    return bytes((int(rng.uniform(-1, 1) * 120 * (1 - i / length)) & 0xFF) for i in range(length))


def module_mod():
    sample = click(2000)
    out = bytearray(b"beat".ljust(20, b"\0"))
    header = b"kick".ljust(22, b"\0") + struct.pack(">HBBHH", len(sample) // 2, 0, 64, 0, 1)
    out += header + bytes(30) * 30
    out += bytes([ORDERS, 127]) + bytes(128) + b"M.K."
    pattern = bytearray(ROWS * 4 * 4)
    for row in range(0, ROWS, 4):  # a beat every four rows, on channel 1
        period = 428  # C-2
        struct.pack_into("4B", pattern, row * 16, (1 & 0xF0) | period >> 8, period & 0xFF, (1 & 0x0F) << 4, 0)
    return bytes(out + pattern + sample)


def module_xm():
    sample = click(4000)
    out = bytearray(b"Extended Module: " + b"beat".ljust(20, b"\0") + b"\x1a" + b"tempo test".ljust(20, b"\0"))
    out += struct.pack("<HIHHHHHHHH", 0x0104, 276, ORDERS, 0, 2, 1, 1, 1, 6, 125) + bytes(256)
    rows = bytearray()
    for row in range(ROWS):
        rows += bytes([0x83, 49, 1]) if row % 4 == 0 else bytes([0x80])  # C-4, instrument 1
        rows += bytes([0x80])  # the second channel is empty
    out += struct.pack("<IBHH", 9, 0, ROWS, len(rows)) + rows
    instrument = bytearray(struct.pack("<I", 263) + b"kick".ljust(22, b"\0") + struct.pack("<BHI", 0, 1, 40))
    instrument += bytes(263 - len(instrument))
    deltas = bytearray()
    previous = 0
    for value in sample:
        deltas.append((value - previous) & 0xFF)
        previous = value
    header = struct.pack("<IIIBbBBbB", len(sample), 0, 0, 64, 0, 0, 128, 0, 0) + b"kick".ljust(22, b"\0")
    return bytes(out + instrument + header + deltas)


def chip_vgm():
    data = bytearray([0x50, 0xE4])  # SN76489: white noise
    for _ in range(32):
        data += bytes([0x50, 0xF0, 0x61]) + struct.pack("<H", 2205)  # loud for 50 ms
        data += bytes([0x50, 0xFF, 0x61]) + struct.pack("<H", 22050 - 2205)  # then silent
    data.append(0x66)
    header = bytearray(0x40)
    header[0:4] = b"Vgm "
    struct.pack_into("<IIII", header, 0x04, 0x40 + len(data) - 4, 0x150, 3579545, 0)
    struct.pack_into("<I", header, 0x18, 32 * 22050)
    struct.pack_into("<HB", header, 0x28, 0x0009, 16)
    struct.pack_into("<I", header, 0x34, 0x40 - 0x34)
    return bytes(header + data)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, content in (("beat.mod", module_mod()), ("beat.xm", module_xm()), ("beat.vgm", chip_vgm())):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(content)


if __name__ == "__main__":
    main()
