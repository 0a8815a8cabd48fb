// The one entry to the in-process decoders: the container, identified from
// the file's content, chooses the decoder.

#include "input/audio_decoder.hpp"

#include "input/decoder_state.hpp"

namespace tempo {

void DecoderStateDeleter::operator()(DecoderState* state) const { delete state; }

bool decodesInProcess(AudioContainer container) {
    return container == AudioContainer::Mpeg || container == AudioContainer::Flac ||
           container == AudioContainer::OggVorbis || container == AudioContainer::OggOpus;
}

DecodeResult openAudioDecoder(AudioDecoder& decoder, AudioContainer container, ByteSpan file) {
    decoder = AudioDecoder{};
    DecodeResult result = DecodeResult::NotDecodable;
    switch (container) {
        case AudioContainer::Mpeg: result = openMpegDecoder(decoder, file); break;
        case AudioContainer::Flac: result = openFlacDecoder(decoder, file); break;
        case AudioContainer::OggVorbis: result = openVorbisDecoder(decoder, file); break;
        case AudioContainer::OggOpus: result = openOpusDecoder(decoder, file); break;
        default: break;
    }
    if (result != DecodeResult::Ok) decoder = AudioDecoder{};
    decoder.result = result;
    return result;
}

std::size_t readAudio(AudioDecoder& decoder, float* out, std::size_t maxFrames) {
    if (!decoder.state || maxFrames == 0) return 0;
    const std::size_t frames = decoder.state->read(decoder, out, maxFrames);
    // Over: the library's memory goes at once, and later calls give 0.
    if (frames == 0) decoder.state.reset();
    return frames;
}

}  // namespace tempo
