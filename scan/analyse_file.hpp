#pragma once

// One file's record: a WAVE file that tempo accepts is analysed in place,
// exactly as tempo does; any other file is decoded through ffmpeg.

#include <string>

#include "scan/decoder.hpp"
#include "scan/scan_record.hpp"

namespace tempo::scan {

ScanRecord analyseFile(const std::string& path, const DecodeSettings& settings);

}  // namespace tempo::scan
