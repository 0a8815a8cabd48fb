#pragma once

// Decoding in this process, for the accurate method: MP3, FLAC, Ogg Vorbis
// and Opus, identified by their content, are read from the mapped file by
// the decoders of input/audio_decoder and their samples go straight into
// the analysis, with no child process, no pipe and no conversion to 16-bit
// stereo. Everything else goes to the ffmpeg child (scan/decoder).

#include <string>

#include "decode/decoder.hpp"

namespace tempo::scan {

// The tempo of `path` decoded in the process, into `decoded`: true, with
// the outcome as decodeTempo gives it (the same failures where there is
// one: the time limit, the stop, a file that shrank while it was read; a
// stream decoded as far as it goes is Decoded with a complaint), the facts
// of the stream as coded, and the hash of the samples when the settings
// ask for it. False where ffmpeg is to decode the file instead: the
// classic method (whose numbers are tempo's on ffmpeg's decode), a format
// not decoded here, a build without the decoders (Windows), a file that
// cannot be mapped, or a stream the decoder refused before any audio.
bool decodeInProcess(const std::string& path, const DecodeSettings& settings, DecodedTempo& decoded);

// The same decode without the analysis, for the hash of the samples that
// tells whether a copy holds the audio of the file it was made from: the
// samples are those decodeInProcess gives, not ffmpeg's, so a file read
// in the process is checked against a copy read in the process.
bool decodeAudioInProcess(const std::string& path, const DecodeSettings& settings, DecodedTempo& decoded);

}  // namespace tempo::scan
