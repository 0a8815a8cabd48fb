#!/usr/bin/env python3
"""Richly tagged files for the tag-fidelity tests, and every tag item of
a file as plain lines, both through mutagen: a reader and writer of tags
that shares no code with tempo-scan's, so what it finds unchanged was not
judged by the code that changed it.

    tag_matrix.py make AUDIO_DIR COVER OUT_DIR
        AUDIO_DIR holds plain.mp3, plain.flac, plain.ogg, plain.opus,
        plain.m4a, plain.wav and plain.aiff (audio, no tags); OUT_DIR gets
        v23.mp3, v24.mp3, rich.flac, rich.ogg, rich.opus, rich.m4a,
        rich.wav and rich.aiff, each tagged with two comments in two
        languages, several artists, ReplayGain, MusicBrainz ids, a rating,
        lyrics, a private frame (ID3) and the cover COVER (a PNG).
    tag_matrix.py items FILE
        every tag item of FILE but the tempo, one a line, in the file's
        order where its format has one; for WAVE and AIFF also every chunk
        but the ID3 one, with the MD5 of its bytes.
    tag_matrix.py tempo FILE
        the tempo FILE's tag holds ("" for none).
"""
import base64
import hashlib
import struct
import sys

from mutagen import id3
from mutagen.aiff import AIFF
from mutagen.flac import FLAC, Picture
from mutagen.mp3 import MP3
from mutagen.mp4 import MP4, MP4Cover, MP4FreeForm
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis
from mutagen.wave import WAVE

MBID_ALBUM = "9e5fbb5c-1a42-4a2c-8d0e-0b4f0c3c6f11"
MBID_TRACK = "0f7f1a6e-7a5e-4b59-9a53-3e0dbd8c1b2a"


def id3_frames(cover, version):
    artists = ["First Artist", "Second Artist"]
    frames = [
        id3.TIT2(encoding=1, text=["A Title"]),
        id3.TPE1(encoding=1, text=artists if version == 4 else ["/".join(artists)]),
        id3.TALB(encoding=0, text=["An Album"]),
        id3.TCON(encoding=0, text=["(17)Rock" if version == 3 else "Rock"]),
        id3.COMM(encoding=1, lang="eng", desc="", text=["An English comment"]),
        id3.COMM(encoding=1, lang="deu", desc="", text=["Ein deutscher Kommentar"]),
        id3.COMM(encoding=1, lang="eng", desc="described", text=["A described comment"]),
        id3.TXXX(encoding=1, desc="REPLAYGAIN_TRACK_GAIN", text=["-7.12 dB"]),
        id3.TXXX(encoding=1, desc="REPLAYGAIN_TRACK_PEAK", text=["0.987654"]),
        id3.TXXX(encoding=1, desc="MusicBrainz Album Id", text=[MBID_ALBUM]),
        id3.UFID(owner="http://musicbrainz.org", data=MBID_TRACK.encode()),
        id3.POPM(email="someone@example.org", rating=196, count=12),
        id3.USLT(encoding=1, lang="eng", desc="", text="First line\nSecond line"),
        id3.PRIV(owner="WM/MediaClassPrimaryID", data=bytes(range(16))),
        id3.APIC(encoding=0, mime="image/png", type=3, desc="Cover", data=cover),
    ]
    if version == 3:
        frames.append(id3.TYER(encoding=0, text=["1999"]))
    else:
        frames.append(id3.TDRC(encoding=0, text=["1999-05-04"]))
    return frames


def add_id3(tags, cover, version):
    for frame in id3_frames(cover, version):
        tags.add(frame)


def vorbis_fields():
    return [
        ("TITLE", "A Title"),
        ("artist", "First Artist"),
        ("artist", "Second Artist"),
        ("Album", "An Album"),
        ("COMMENT", "An English comment"),
        ("COMMENT", "Ein deutscher Kommentar"),
        ("REPLAYGAIN_TRACK_GAIN", "-7.12 dB"),
        ("REPLAYGAIN_TRACK_PEAK", "0.987654"),
        ("MUSICBRAINZ_ALBUMID", MBID_ALBUM),
        ("MUSICBRAINZ_TRACKID", MBID_TRACK),
        ("RATING", "80"),
        ("LYRICS", "First line\nSecond line"),
    ]


def picture(cover):
    pic = Picture()
    pic.type, pic.mime, pic.desc, pic.width, pic.height, pic.depth = 3, "image/png", "Cover", 64, 64, 24
    pic.data = cover
    return pic


def make_vorbis(path, kind, cover, embedded):
    audio = kind(path)
    for key, value in vorbis_fields():
        audio.tags.append((key, value))
    if embedded:
        audio.tags.append(("METADATA_BLOCK_PICTURE", base64.b64encode(picture(cover).write()).decode()))
    else:
        audio.add_picture(picture(cover))
    audio.save()


def make_mp4(path, cover):
    audio = MP4(path)
    audio["\xa9nam"] = ["A Title"]
    audio["\xa9ART"] = ["First Artist", "Second Artist"]
    audio["\xa9alb"] = ["An Album"]
    audio["\xa9cmt"] = ["An English comment"]
    audio["\xa9lyr"] = ["First line\nSecond line"]
    audio["----:com.apple.iTunes:replaygain_track_gain"] = [MP4FreeForm(b"-7.12 dB")]
    audio["----:com.apple.iTunes:MusicBrainz Album Id"] = [MP4FreeForm(MBID_ALBUM.encode())]
    audio["----:com.apple.iTunes:COMMENT"] = [MP4FreeForm("Ein deutscher Kommentar".encode())]
    audio["rate"] = ["80"]
    audio["covr"] = [MP4Cover(cover, imageformat=MP4Cover.FORMAT_PNG)]
    audio.save()


def riff_chunk(kind, data):
    return kind + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def add_info_and_bext(path):
    """A LIST/INFO chunk and a bext chunk, right after fmt, as a broadcast
    recorder writes them."""
    data = open(path, "rb").read()
    at = 12
    while data[at:at + 4] != b"fmt ":
        at += 8 + struct.unpack("<I", data[at + 4:at + 8])[0]
    at += 8 + struct.unpack("<I", data[at + 4:at + 8])[0]
    info = b"INFO" + riff_chunk(b"INAM", b"A Title\0") + riff_chunk(b"IART", b"First Artist\0")
    bext = b"A description".ljust(256, b"\0") + b"tempo tests".ljust(32, b"\0") + bytes(32) + b"2026-12-1012:00:00"
    bext += bytes(602 - len(bext)) + b"A=PCM,F=44100\r\n"
    extra = riff_chunk(b"LIST", info) + riff_chunk(b"bext", bext)
    data = data[:at] + extra + data[at:]
    data = data[:4] + struct.pack("<I", len(data) - 8) + data[8:]
    open(path, "wb").write(data)


def make(audio_dir, cover_path, out_dir):
    cover = open(cover_path, "rb").read()
    copy = lambda src, dst: open(f"{out_dir}/{dst}", "wb").write(open(f"{audio_dir}/{src}", "rb").read())
    for version in (3, 4):
        name = f"v2{version}.mp3"
        copy("plain.mp3", name)
        tags = id3.ID3()
        add_id3(tags, cover, version)
        tags.save(f"{out_dir}/{name}", v2_version=version)
    copy("plain.flac", "rich.flac")
    make_vorbis(f"{out_dir}/rich.flac", FLAC, cover, embedded=False)
    copy("plain.ogg", "rich.ogg")
    make_vorbis(f"{out_dir}/rich.ogg", OggVorbis, cover, embedded=True)
    copy("plain.opus", "rich.opus")
    make_vorbis(f"{out_dir}/rich.opus", OggOpus, cover, embedded=True)
    copy("plain.m4a", "rich.m4a")
    make_mp4(f"{out_dir}/rich.m4a", cover)
    copy("plain.wav", "rich.wav")
    add_info_and_bext(f"{out_dir}/rich.wav")
    for name, kind in (("rich.wav", WAVE), ("rich.aiff", AIFF)):
        if name == "rich.aiff":
            copy("plain.aiff", name)
        audio = kind(f"{out_dir}/{name}")
        audio.add_tags()
        add_id3(audio.tags, cover, 3)
        audio.save(v2_version=3)


def digest(data):
    return hashlib.md5(data).hexdigest()


def id3_lines(tags):
    lines = [f"id3 version 2.{tags.version[1]}"]
    for frame in tags.values():
        if frame.FrameID == "TBPM":
            continue
        if isinstance(frame, id3.APIC):
            lines.append(f"APIC {frame.mime} {frame.type} {frame.desc!r} {digest(frame.data)}")
        else:
            lines.append(repr(frame))
    return lines


def chunk_lines(path, big_endian):
    """Every chunk of a RIFF or FORM file but the ID3 one, with its MD5."""
    data = open(path, "rb").read()
    size = ">I" if big_endian else "<I"
    lines = [f"form {data[8:12]!r}"]
    at = 12
    while at + 8 <= len(data):
        kind, length = data[at:at + 4], struct.unpack(size, data[at + 4:at + 8])[0]
        if kind not in (b"ID3 ", b"id3 "):
            lines.append(f"chunk {kind!r} {length} {digest(data[at + 8:at + 8 + length])}")
        at += 8 + length + (length & 1)
    return lines


def items(path):
    name = path.lower()
    if name.endswith(".mp3"):
        return id3_lines(MP3(path).tags)
    if name.endswith(".wav") or name.endswith(".aiff"):
        kind, big = (WAVE, False) if name.endswith(".wav") else (AIFF, True)
        return id3_lines(kind(path).tags) + chunk_lines(path, big)
    if name.endswith(".m4a"):
        lines = []
        for key, values in sorted(MP4(path).tags.items()):
            if key == "tmpo":
                continue
            for value in values:
                if isinstance(value, MP4Cover):
                    lines.append(f"{key} cover {value.imageformat} {digest(bytes(value))}")
                elif isinstance(value, MP4FreeForm):
                    lines.append(f"{key} freeform {value.dataformat} {bytes(value)!r}")
                else:
                    lines.append(f"{key} {value!r}")
        return lines
    kind = FLAC if name.endswith(".flac") else OggOpus if name.endswith(".opus") else OggVorbis
    audio = kind(path)
    lines = [f"vendor {audio.tags.vendor!r}"]
    lines += [f"{key}={value!r}" for key, value in audio.tags if key.upper() != "BPM"]
    if kind is FLAC:
        lines += [f"picture {p.type} {p.mime} {p.desc!r} {digest(p.data)}" for p in audio.pictures]
    return lines


def tempo(path):
    name = path.lower()
    if name.endswith(".m4a"):
        return " ".join(str(v) for v in (MP4(path).tags or {}).get("tmpo", []))
    if name.endswith((".mp3", ".wav", ".aiff")):
        kind = MP3 if name.endswith(".mp3") else WAVE if name.endswith(".wav") else AIFF
        tags = kind(path).tags
        return " ".join(tags["TBPM"].text) if tags is not None and "TBPM" in tags else ""
    kind = FLAC if name.endswith(".flac") else OggOpus if name.endswith(".opus") else OggVorbis
    return " ".join(value for key, value in kind(path).tags if key.upper() == "BPM")


def main():
    command = sys.argv[1]
    if command == "make":
        make(*sys.argv[2:5])
    elif command == "items":
        print("\n".join(items(sys.argv[2])))
    elif command == "tempo":
        print(tempo(sys.argv[2]))
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main()
