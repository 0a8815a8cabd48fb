#pragma once

// The packets of the first logical stream of an Ogg file, read through
// libogg from memory, for the Vorbis and Opus decoders. Pages of other
// streams multiplexed with it are passed over. A chained file (links one
// after another, as concatenated files or a radio recording give) is read
// link by link: once a link's last page is read, the decoder asks for the
// next link and reads its headers again. The reader notes what a decoder
// needs to tell a whole stream from one that was cut or damaged: whether
// the page marked last was reached, and whether pages were missing or
// failed their checksum on the way.

#include <ogg/ogg.h>

#include <cstddef>
#include <cstdint>

#include "input/byte_span.hpp"

namespace tempo {

struct OggPackets {
    ByteSpan file;
    std::uint64_t fed = 0;        // bytes handed to libogg, which copies them
    ogg_sync_state sync{};
    ogg_stream_state stream{};
    bool started = false;         // the first stream's first page was read
    bool lastPage = false;        // the page marked last (end of stream) was read
    bool damaged = false;         // bytes skipped, or a packet lost
};

// Prepares to read `file`, which must stay readable while packets are read.
void startOggPackets(OggPackets& ogg, ByteSpan file);

// The next packet of the first stream into `packet` (valid until the next
// call): true, or false at its end (the page marked last, or the end of
// the bytes).
bool nextOggPacket(OggPackets& ogg, ogg_packet& packet);

// After the page marked last: starts the next link of a chained file, at
// its first stream whose first packet begins with the `length` bytes of
// `magic` (the codec's header: "\x01vorbis", "OpusHead"). Pages of other
// streams on the way are passed over. False at the end of the bytes.
bool nextOggLink(OggPackets& ogg, const char* magic, std::size_t length);

// Frees libogg's buffers.
void finishOggPackets(OggPackets& ogg);

}  // namespace tempo
