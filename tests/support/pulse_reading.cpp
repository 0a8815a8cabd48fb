#include "tests/support/pulse_reading.hpp"

#include <utility>

#include "pulse/onset_curve.hpp"

namespace tempo::testing {

pulse::PulseReading pulseReadingOf(const std::vector<Hit>& hits, double seconds, std::uint32_t rate) {
    const Bytes bytes = hitSamples(hits, rate, seconds);
    pulse::OnsetStream stream;
    pulse::startOnsetStream(stream, rate);
    pulse::feedOnsetStream(stream, bytes.data(), bytes.size());
    pulse::finishOnsetStream(stream);
    return pulse::analysePulse(std::move(stream.onset), std::move(stream.lowOnset), stream.chroma, stream.frameRate,
                               pulse::onsetStreamSeconds(stream));
}

}  // namespace tempo::testing
