#include "media/voice_codec.h"

#include <algorithm>
#include <cstring>

#include <gsm.h>
#include <speex/speex.h>

namespace vokar::media {
namespace {

constexpr int kFrameSamples = 160;
// Mode code 15 in 5 bits: Speex's in-band terminator, which ends the decode
// loop after the last frame of a payload.
constexpr int kSpeexTerminator = 15;
constexpr int kSpeexTerminatorBits = 5;
constexpr int kSpeexCorrupt = -2;

// Releases a lock taken with a time-out when the scope ends.
class TimedLock {
public:
    TimedLock(platform::NamedMutex& mutex, uint32_t timeout_ms)
        : mutex_(mutex), held_(mutex.wait(timeout_ms) == platform::kWaitObject0)
    {
    }
    ~TimedLock()
    {
        if (held_)
            mutex_.release();
    }
    TimedLock(const TimedLock&) = delete;
    TimedLock& operator=(const TimedLock&) = delete;
    bool held() const { return held_; }

private:
    platform::NamedMutex& mutex_;
    const bool held_;
};

} // namespace

struct VoiceCodec::State {
    // Speex
    SpeexBits enc_bits{};
    SpeexBits dec_bits{};
    void* encoder = nullptr;
    void* decoder = nullptr;
    // GSM
    gsm gsm_encoder = nullptr;
    gsm gsm_decoder = nullptr;
};

VoiceCodec::VoiceCodec(int payload_type)
    : payload_type_(payload_type),
      enc_lock_(platform::NamedMutex::unique_name("_VOKAR_COMPRESSION_ENC")),
      dec_lock_(platform::NamedMutex::unique_name("_VOKAR_COMPRESSION_DEC"))
{
    if (payload_type != kPayloadSpeex && payload_type != kPayloadGsm)
        return;
    TimedLock enc(enc_lock_, kLockTimeoutMs);
    TimedLock dec(dec_lock_, kLockTimeoutMs);
    if (!enc.held() || !dec.held())
        return;
    state_ = new State;
    if (payload_type == kPayloadSpeex) {
        speex_bits_init(&state_->enc_bits);
        speex_bits_init(&state_->dec_bits);
        state_->encoder = speex_encoder_init(&speex_nb_mode);
        state_->decoder = speex_decoder_init(&speex_nb_mode);
        int off = 0;
        int on = 1;
        float vbr_quality = 3.0f;
        int complexity = 5;
        speex_encoder_ctl(state_->encoder, SPEEX_SET_VAD, &off);
        speex_encoder_ctl(state_->encoder, SPEEX_SET_DTX, &off);
        speex_encoder_ctl(state_->encoder, SPEEX_SET_VBR, &on);
        speex_encoder_ctl(state_->encoder, SPEEX_SET_VBR_QUALITY, &vbr_quality);
        speex_encoder_ctl(state_->encoder, SPEEX_SET_COMPLEXITY, &complexity);
        speex_decoder_ctl(state_->decoder, SPEEX_SET_ENH, &on);
        ready_ = state_->encoder != nullptr && state_->decoder != nullptr;
    } else {
        state_->gsm_encoder = gsm_create();
        state_->gsm_decoder = gsm_create();
        if (state_->gsm_encoder != nullptr) {
            int ltp_cut = 3; // any non-zero value switches the faster LTP search on
            gsm_option(state_->gsm_encoder, GSM_OPT_LTP_CUT, &ltp_cut);
        }
        ready_ = state_->gsm_encoder != nullptr && state_->gsm_decoder != nullptr;
    }
}

VoiceCodec::~VoiceCodec()
{
    TimedLock enc(enc_lock_, platform::kInfinite);
    TimedLock dec(dec_lock_, platform::kInfinite);
    destroy();
}

void VoiceCodec::destroy()
{
    ready_ = false;
    if (state_ == nullptr)
        return;
    if (payload_type_ == kPayloadSpeex) {
        speex_bits_reset(&state_->enc_bits);
        if (state_->encoder != nullptr)
            speex_encoder_destroy(state_->encoder);
        speex_bits_reset(&state_->dec_bits);
        if (state_->decoder != nullptr)
            speex_decoder_destroy(state_->decoder);
        speex_bits_destroy(&state_->enc_bits);
        speex_bits_destroy(&state_->dec_bits);
    } else {
        if (state_->gsm_encoder != nullptr)
            gsm_destroy(state_->gsm_encoder);
        if (state_->gsm_decoder != nullptr)
            gsm_destroy(state_->gsm_decoder);
    }
    delete state_;
    state_ = nullptr;
}

EncodedBlock VoiceCodec::encode(const int16_t* pcm, size_t byte_count)
{
    EncodedBlock out;
    TimedLock lock(enc_lock_, kLockTimeoutMs);
    if (!lock.held() || !ready_)
        return out;
    const size_t frames = byte_count / kFrameBytes;
    spx_int16_t frame[kFrameSamples];
    if (payload_type_ == kPayloadSpeex) {
        speex_bits_reset(&state_->enc_bits);
        for (size_t f = 0; f < frames; ++f) {
            // The library takes a mutable frame; the caller's block stays const.
            std::memcpy(frame, pcm + f * kFrameSamples, kFrameBytes);
            speex_encode_int(state_->encoder, frame, &state_->enc_bits);
        }
        speex_bits_pack(&state_->enc_bits, kSpeexTerminator, kSpeexTerminatorBits);
        out.data.resize(byte_count);
        const int written =
            speex_bits_write(&state_->enc_bits, out.data.data(), static_cast<int>(out.data.size()));
        out.data.resize(static_cast<size_t>(std::max(written, 0)));
    } else {
        out.data.resize(frames * kGsmFrameBytes);
        for (size_t f = 0; f < frames; ++f) {
            std::memcpy(frame, pcm + f * kFrameSamples, kFrameBytes);
            gsm_encode(state_->gsm_encoder, frame,
                       reinterpret_cast<gsm_byte*>(out.data.data() + f * kGsmFrameBytes));
        }
    }
    out.milliseconds = static_cast<int>(byte_count / 160 * 10);
    return out;
}

size_t VoiceCodec::decode(const uint8_t* data, size_t length, int16_t* out, size_t out_bytes)
{
    TimedLock lock(dec_lock_, kLockTimeoutMs);
    if (!lock.held() || !ready_)
        return 0;
    const size_t max_frames = out_bytes / kFrameBytes;
    if (payload_type_ == kPayloadSpeex) {
        speex_bits_read_from(&state_->dec_bits, reinterpret_cast<const char*>(data),
                             static_cast<int>(length));
        size_t k = 0;
        int result = 0;
        while (k < max_frames) {
            result = speex_decode_int(state_->decoder, &state_->dec_bits, out + k * kFrameSamples);
            if (result < 0)
                break;
            ++k;
        }
        return result == kSpeexCorrupt ? 0 : k * kFrameBytes;
    }
    // A payload may announce more frames than the output holds; the rest is
    // dropped rather than written past the caller's buffer.
    const size_t frames = std::min(length / kGsmFrameBytes, max_frames);
    gsm_byte frame[kGsmFrameBytes];
    for (size_t f = 0; f < frames; ++f) {
        std::memcpy(frame, data + f * kGsmFrameBytes, kGsmFrameBytes);
        // A frame without the GSM signature is left unwritten by the library;
        // it plays as silence rather than as whatever the output held.
        if (gsm_decode(state_->gsm_decoder, frame, out + f * kFrameSamples) != 0)
            std::memset(out + f * kFrameSamples, 0, kFrameBytes);
    }
    return frames * kFrameBytes;
}

} // namespace vokar::media
