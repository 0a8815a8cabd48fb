#pragma once

// The accurate analysis of hits rendered to 16-bit stereo, through the
// onset stream as a decoder's samples go: what the pulse tests read.

#include <cstdint>
#include <vector>

#include "pulse/analysis.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::testing {

// The reading of `hits` over `seconds` at `rate` Hz, bars and length
// included.
pulse::PulseReading pulseReadingOf(const std::vector<Hit>& hits, std::uint32_t rate, double seconds);

}  // namespace tempo::testing
