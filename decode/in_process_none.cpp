// A build without the decoder libraries (Windows, where Debian has none):
// ffmpeg decodes every file.

#include "decode/in_process_decode.hpp"

namespace tempo::scan {

bool decodeInProcess(const std::string&, const DecodeSettings&, DecodedTempo&) { return false; }

bool decodeAudioInProcess(const std::string&, const DecodeSettings&, DecodedTempo&) { return false; }

}  // namespace tempo::scan
