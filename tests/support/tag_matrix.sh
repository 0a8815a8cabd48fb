# The richly tagged files of the tag tests, and what they are read by:
# mutagen through tag_matrix.py (a reader that shares no code with
# tempo-scan) and ffmpeg. Sourced after e2e_helpers.sh, with `python` set
# to the interpreter that has mutagen.
matrix="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/tag_matrix.py"
audio_md5() { ffmpeg -nostdin -loglevel error -i "$1" -map 0:a -c copy -f md5 -; }
items() { "$python" "$matrix" items "$1"; }
tempo_of() { "$python" "$matrix" tempo "$1"; }

# In the current folder: a 12 s clip at 128 BPM (src.wav) from BEATGEN,
# encoded untagged in every format tempo-scan tags (plain/), then tagged
# richly into DEST; false, with the reason said, where it cannot be.
make_tag_matrix() {
  local beatgen=$1 dest=$2
  "$python" -c 'import mutagen' || { fail "mutagen is missing (apt-get install python3-mutagen)"; return 1; }
  mkdir -p plain "$dest" && "$beatgen" 128 44100 12 src.wav > /dev/null || return 1
  # A noisy picture compresses badly: some 200 kB, as a scanned cover is.
  ff -f lavfi -i "nullsrc=s=256x256,geq=random(1)*255:random(1)*255:random(1)*255" -frames:v 1 cover.png || return 1
  ff -i src.wav -c:a libmp3lame -id3v2_version 0 plain/plain.mp3 && ff -i src.wav -c:a flac plain/plain.flac &&
    ff -i src.wav -c:a libvorbis plain/plain.ogg && ff -i src.wav -c:a libopus plain/plain.opus &&
    ff -i src.wav -c:a aac plain/plain.m4a && cp src.wav plain/plain.wav &&
    ff -i src.wav -c:a pcm_s16be plain/plain.aiff || { fail "could not encode the clips"; return 1; }
  "$python" "$matrix" make plain cover.png "$dest" || { fail "could not tag the clips"; return 1; }
}
