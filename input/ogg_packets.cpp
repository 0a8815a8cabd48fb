// Pages found by libogg's sync layer (which checks each page's CRC and
// skips what is not a page) feed the stream layer of the first stream,
// which cuts packets and sees a page missing from the sequence.

#include "input/ogg_packets.hpp"

#include <algorithm>
#include <cstring>

namespace tempo {
namespace {

// Bytes handed to libogg at a time.
constexpr std::size_t kFeedBytes = 16 * 1024;

// False at the end of the bytes.
bool feedMore(OggPackets& ogg) {
    if (ogg.fed >= ogg.file.length) return false;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kFeedBytes, ogg.file.length - ogg.fed));
    char* buffer = ogg_sync_buffer(&ogg.sync, static_cast<long>(count));
    if (buffer == nullptr) return false;
    std::memcpy(buffer, ogg.file.bytes + ogg.fed, count);
    ogg_sync_wrote(&ogg.sync, static_cast<long>(count));
    ogg.fed += count;
    return true;
}

// The next whole page of any stream; false at the end of the bytes. Bytes
// that are no page, or a page whose checksum fails, mark the stream
// damaged and are passed over.
bool nextPage(OggPackets& ogg, ogg_page& page) {
    for (;;) {
        const int found = ogg_sync_pageout(&ogg.sync, &page);
        if (found > 0) return true;
        if (found < 0) {
            ogg.damaged = true;
        } else if (!feedMore(ogg)) {
            return false;
        }
    }
}

// The next page of the first stream into its stream layer; false at the
// end of the bytes.
bool takePage(OggPackets& ogg) {
    ogg_page page;
    while (nextPage(ogg, page)) {
        if (!ogg.started) {
            // The container was identified by this first page.
            ogg_stream_init(&ogg.stream, ogg_page_serialno(&page));
            ogg.started = true;
        }
        if (ogg_page_serialno(&page) != ogg.stream.serialno) continue;
        if (ogg_stream_pagein(&ogg.stream, &page) != 0) {
            ogg.damaged = true;
            continue;
        }
        if (ogg_page_eos(&page) != 0) ogg.lastPage = true;
        return true;
    }
    return false;
}

// Whether `page` begins a stream whose first packet begins with `magic`.
bool beginsStream(ogg_page& page, const char* magic, std::size_t length) {
    return ogg_page_bos(&page) != 0 && static_cast<std::size_t>(page.body_len) >= length &&
           std::memcmp(page.body, magic, length) == 0;
}

}  // namespace

bool nextOggLink(OggPackets& ogg, const char* magic, std::size_t length) {
    ogg_page page;
    while (nextPage(ogg, page)) {
        // The rest of a link's other streams, and the next link's streams
        // of other codecs, are passed over.
        if (!beginsStream(page, magic, length)) continue;
        // The link before stays whole (its last page read) until another
        // begins.
        ogg_stream_clear(&ogg.stream);
        ogg_stream_init(&ogg.stream, ogg_page_serialno(&page));
        ogg.started = true;
        if (ogg_stream_pagein(&ogg.stream, &page) != 0) ogg.damaged = true;
        ogg.lastPage = ogg_page_eos(&page) != 0;
        return true;
    }
    return false;
}

void startOggPackets(OggPackets& ogg, ByteSpan file) {
    finishOggPackets(ogg);
    ogg.file = file;
    ogg_sync_init(&ogg.sync);
}

bool nextOggPacket(OggPackets& ogg, ogg_packet& packet) {
    for (;;) {
        if (ogg.started) {
            const int found = ogg_stream_packetout(&ogg.stream, &packet);
            if (found > 0) return true;
            // A gap in the page sequence: the packets across it are lost.
            if (found < 0) {
                ogg.damaged = true;
                continue;
            }
        }
        if (ogg.lastPage || !takePage(ogg)) return false;
    }
}

void finishOggPackets(OggPackets& ogg) {
    // Both free only what was allocated, and take a zeroed state.
    ogg_stream_clear(&ogg.stream);
    ogg_sync_clear(&ogg.sync);
    ogg = OggPackets{};
}

}  // namespace tempo
