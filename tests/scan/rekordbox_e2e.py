"""tempo-scan --format rekordbox-xml against its own JSON Lines records:
the collection parsed with xml.etree, every TRACK checked against the
record of the same file (its location, name, length, tempo and grid), the
files with no tempo left out and counted, the texts escaped; and, with an
index, the collection given again from the index alone.

    rekordbox_e2e.py TEMPO_SCAN BEATGEN WORK_DIR
"""
import json
import math
import os
import pathlib
import shutil
import subprocess
import sys
import urllib.parse
import wave
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
from waltz import waltz_frames  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def waltz(path, rate=22050):
    """A waltz whose bars stand out (tests/support/waltz.py), as a WAVE."""
    with wave.open(os.fsdecode(path), "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(waltz_frames(rate=rate).astype("<i2").tobytes())


def make_library(folder, beatgen):
    folder.mkdir(parents=True)
    subprocess.run([beatgen, "128", "44100", "20", str(folder / "plain.wav")], check=True, stdout=subprocess.DEVNULL)
    waltz(folder / "waltz.wav")
    # A name with every character XML and URLs give a meaning to, and a
    # title tag that holds them too.
    odd = folder / "Tom & \"Jerry\" <live> 'n' #1 100%.mp3"
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", str(folder / "plain.wav"),
                    "-metadata", "title=Tom & Jerry <live>", str(odd)], check=True)
    # A file only ffmpeg decodes, a Latin-1 byte in a name, and a file
    # with no tempo.
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", str(folder / "waltz.wav"),
                    str(folder / "waltz.m4a")], check=True)
    shutil.copy(folder / "waltz.wav", os.fsencode(folder) + b"/caf\xe9.wav")
    with wave.open(str(folder / "silence.wav"), "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(22050)
        out.writeframes(bytes(4 * 22050 * 3))


def run(scan, *args, env=None):
    done = subprocess.run([scan, "--no-progress", *args], capture_output=True, env=env)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def counting_decoder(work):
    """ffmpeg behind a script that counts its starts in work/starts."""
    script = work / "counting-ffmpeg"
    script.write_text(f"#!/bin/sh\necho >> '{work}/starts'\nexec ffmpeg \"$@\"\n")
    script.chmod(0o755)
    (work / "starts").write_text("")
    return dict(os.environ, TEMPO_FFMPEG=str(script))


def starts(work):
    return len((work / "starts").read_text().splitlines())


def check_index_alone(scan, folder, work, expected):
    """A second run on an index gives the same collection and decodes
    nothing; the first fills the index."""
    env = counting_decoder(work)
    index = str(work / "index.db")
    status, _, _ = run(scan, "--db", index, str(folder), env=env)
    check(status == 0, f"first run on the index exited {status}")
    first = starts(work)
    check(first > 0, "the first run on the index decoded nothing through ffmpeg")
    status, document, _ = run(scan, "--db", index, "--format", "rekordbox-xml", str(folder), env=env)
    check(status == 0, f"rekordbox-xml from the index exited {status}")
    check(starts(work) == first, f"rekordbox-xml from the index decoded {starts(work) - first} files again")
    check(document == expected, "the collection from the index differs from the scan's")


def records_by_path(scan, folder):
    status, out, _ = run(scan, "--format", "jsonl", "--beats", "--decimals", "2", str(folder))
    check(status == 0, f"jsonl run exited {status}")
    records = {}
    for line in out.decode().splitlines():
        record = json.loads(line)
        records[os.path.realpath(os.fsencode(record["path"]))] = record
    return records


def check_track(track, record, path):
    name = path.decode("utf-8", "replace")
    attributes = track.attrib
    check(attributes["TotalTime"] == str(math.floor(record["duration"])), f"{name}: TotalTime {attributes}")
    check(attributes["AverageBpm"] == f"{record['bpm']:.2f}", f"{name}: AverageBpm {attributes['AverageBpm']}")
    tempos = track.findall("TEMPO")
    check(len(tempos) == 1 + len(record["tempo_changes"]), f"{name}: {len(tempos)} TEMPO elements")
    first = tempos[0].attrib
    bars = record["downbeats"] or record["beats"]
    check(first["Inizio"] == f"{bars[0]:.3f}", f"{name}: Inizio {first['Inizio']}, bars from {bars[0]}")
    check(first["Bpm"] == f"{record['bpm']:.2f}", f"{name}: TEMPO Bpm {first['Bpm']}")
    check(first["Metro"] == f"{record['metre'] or 4}/4", f"{name}: Metro {first['Metro']}, metre {record['metre']}")
    check(first["Battito"] == "1", f"{name}: Battito {first['Battito']}")


def check_collection(document, records, folder, what):
    root = ElementTree.fromstring(document)
    check(root.tag == "DJ_PLAYLISTS" and root.attrib.get("Version") == "1.0.0", f"{what}: root {root.attrib}")
    check(root.find("PRODUCT") is not None and root.find("PLAYLISTS/NODE") is not None, f"{what}: no PRODUCT")
    collection = root.find("COLLECTION")
    tracks = collection.findall("TRACK")
    with_tempo = {path: record for path, record in records.items() if record["status"] == "ok"}
    check(collection.attrib["Entries"] == str(len(tracks)) == str(len(with_tempo)),
          f"{what}: Entries {collection.attrib['Entries']}, {len(tracks)} tracks, {len(with_tempo)} with a tempo")
    check([track.attrib["TrackID"] for track in tracks] == [str(i) for i in range(1, len(tracks) + 1)],
          f"{what}: track ids")
    names = {}
    for track in tracks:
        location = track.attrib["Location"]
        check(location.startswith("file://localhost/"), f"{what}: location {location}")
        path = urllib.parse.unquote_to_bytes(location[len("file://localhost"):])
        check(path in with_tempo, f"{what}: a track no record has: {path}")
        if path in with_tempo:
            check_track(track, with_tempo[path], path)
        names[os.path.basename(path)] = track.attrib["Name"]
    check(names.get(b"Tom & \"Jerry\" <live> 'n' #1 100%.mp3") == "Tom & Jerry <live>", f"{what}: title {names}")
    check(names.get(b"caf\xe9.wav") == "caf\ufffd.wav", f"{what}: Latin-1 name {names}")
    check(names.get(b"waltz.wav") == "waltz.wav", f"{what}: plain name {names}")
    check(names.get(b"waltz.m4a") == "waltz.m4a", f"{what}: a file ffmpeg decodes {names}")


def main():
    scan, beatgen, work = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
    shutil.rmtree(work, ignore_errors=True)
    folder = work / "lib"
    make_library(folder, beatgen)
    records = records_by_path(scan, folder)
    check({record["metre"] for record in records.values()} >= {3}, "the waltz has no metre of 3")

    status, document, error = run(scan, "--format", "rekordbox-xml", str(folder))
    check(status == 0, f"rekordbox-xml exited {status}")
    check(error == "tempo-scan: 1 file with no tempo left out of the rekordbox collection\n", f"stderr: {error}")
    check_collection(document, records, folder, "scan")
    check_index_alone(scan, folder, work, document)
    status, _, error = run(scan, "--format", "rekordbox-xml", "--method", "classic", str(folder))
    check(status == 2 and "needs the accurate method" in error, f"classic: {status} {error}")

    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
