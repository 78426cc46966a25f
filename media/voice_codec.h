#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sync.h"

namespace vokar::media {

// Payload types a call can negotiate, and the codec each selects.
constexpr int kPayloadSpeex = 97;
constexpr int kPayloadGsm = 3;

// One audio block: 60 ms of 8 kHz 16-bit mono PCM.
constexpr size_t kBlockBytes = 960;
// Both codecs work on 20 ms frames of 160 samples.
constexpr size_t kFrameBytes = 320;
constexpr size_t kGsmFrameBytes = 33;
// What a caller of decode provides: room for six frames.
constexpr size_t kDecodeBufferBytes = 1920;

struct EncodedBlock {
    std::string data; // one packet payload; empty when nothing was encoded
    int milliseconds = 0;
};

// Turns PCM blocks into one packet payload and back for one payload type:
// Speex narrowband for kPayloadSpeex, GSM 06.10 for kPayloadGsm, nothing for
// any other. The capture thread encodes while the receive thread decodes; a
// lock per direction keeps each single-threaded.
class VoiceCodec {
public:
    explicit VoiceCodec(int payload_type);
    ~VoiceCodec();
    VoiceCodec(const VoiceCodec&) = delete;
    VoiceCodec& operator=(const VoiceCodec&) = delete;

    int payload_type() const { return payload_type_; }
    bool ready() const { return ready_; }

    // Encodes byte_count bytes of PCM (whole 320-byte frames; a trailing part
    // frame is not encoded). milliseconds is (byte_count / 160) * 10.
    EncodedBlock encode(const int16_t* pcm, size_t byte_count);

    // Decodes one payload into out (out_bytes of room, normally
    // kDecodeBufferBytes). Returns the bytes written, 0 on failure. Never
    // writes more whole frames than out holds.
    size_t decode(const uint8_t* data, size_t length, int16_t* out, size_t out_bytes);

private:
    struct State;
    static constexpr uint32_t kLockTimeoutMs = 3000;

    void destroy();

    const int payload_type_;
    bool ready_ = false;
    platform::NamedMutex enc_lock_;
    platform::NamedMutex dec_lock_;
    State* state_ = nullptr;
};

} // namespace vokar::media
