// Received datagrams through the receive path: classification, both decoders
// into the usual 1920-byte output, then the playout buffer, with a block taken
// out after each packet. Codecs and buffer keep their state across inputs, as
// they do over a call; nothing may read or write outside its buffers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "media/packetizer.h"
#include "media/playout_buffer.h"
#include "media/voice_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vokar::media::VoiceCodec speex(vokar::media::kPayloadSpeex);
    static vokar::media::VoiceCodec gsm(vokar::media::kPayloadGsm);
    static vokar::media::PlayoutBuffer playout;

    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const auto packet = vokar::media::read_voice_packet(datagram);
    if (!packet)
        return 0;
    int16_t pcm[vokar::media::kDecodeBufferBytes / 2];
    int16_t out[vokar::media::kBlockBytes / 2];
    for (vokar::media::VoiceCodec* codec : {&speex, &gsm}) {
        const size_t bytes = codec->decode(reinterpret_cast<const uint8_t*>(packet->payload.data()),
                                           packet->payload.size(), pcm, sizeof pcm);
        if (bytes > sizeof pcm)
            __builtin_trap();
        playout.put(pcm, bytes, packet->timestamp, packet->sequence);
        playout.get(out, sizeof out);
    }
    return 0;
}
