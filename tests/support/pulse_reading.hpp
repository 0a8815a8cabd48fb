#pragma once

// The accurate analysis of hits rendered to 16-bit stereo, through the
// onset stream as a decoder's samples go: what the pulse tests read.

#include <cstdint>
#include <vector>

#include "pulse/analysis.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::testing {

// The rate the hits are rendered at unless a test says otherwise: the
// analysis's own.
constexpr std::uint32_t kPulseRate = 22050;

// The reading of `hits` over `seconds` at `rate` Hz, bars and length
// included.
pulse::PulseReading pulseReadingOf(const std::vector<Hit>& hits, double seconds, std::uint32_t rate = kPulseRate);

}  // namespace tempo::testing
