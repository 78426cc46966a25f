// The codec wrapper against libspeex and libgsm called directly on the same
// speech, the playout buffer's put and get, and the mouth-to-ear latency of a
// loopback call between two engines with WAV devices.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gsm.h>
#include <speex/speex.h>

#include "bench/corpus.h"
#include "media/audio_engine.h"
#include "media/playout_buffer.h"
#include "media/voice_codec.h"
#include "platform/audio_device.h"

namespace {

using vokar::media::kBlockBytes;

constexpr int kFrameSamples = 160;
constexpr int kBlockSamples = 480;

// The corpus speech in 60 ms blocks, the last one completed with silence.
std::vector<std::vector<int16_t>> g_blocks;

void report(benchmark::State& state)
{
    const double blocks = static_cast<double>(state.iterations() * g_blocks.size());
    state.counters["blocks/s"] = benchmark::Counter(blocks, benchmark::Counter::kIsRate);
    // Seconds of speech encoded and decoded per CPU second.
    state.counters["x_realtime"] = benchmark::Counter(blocks * 0.06, benchmark::Counter::kIsRate);
}

// One block encoded then decoded, as a call does it in each direction.
void BM_Wrapper(benchmark::State& state)
{
    vokar::media::VoiceCodec codec(static_cast<int>(state.range(0)));
    std::vector<int16_t> out(vokar::media::kDecodeBufferBytes / 2);
    for (auto _ : state)
        for (const auto& block : g_blocks) {
            const auto encoded = codec.encode(block.data(), kBlockBytes);
            benchmark::DoNotOptimize(
                codec.decode(reinterpret_cast<const uint8_t*>(encoded.data.data()),
                             encoded.data.size(), out.data(), vokar::media::kDecodeBufferBytes));
        }
    report(state);
}

void BM_DirectSpeex(benchmark::State& state)
{
    SpeexBits enc_bits;
    SpeexBits dec_bits;
    speex_bits_init(&enc_bits);
    speex_bits_init(&dec_bits);
    void* encoder = speex_encoder_init(&speex_nb_mode);
    void* decoder = speex_decoder_init(&speex_nb_mode);
    int off = 0;
    int on = 1;
    float quality = 3.0f;
    int complexity = 5;
    speex_encoder_ctl(encoder, SPEEX_SET_VAD, &off);
    speex_encoder_ctl(encoder, SPEEX_SET_DTX, &off);
    speex_encoder_ctl(encoder, SPEEX_SET_VBR, &on);
    speex_encoder_ctl(encoder, SPEEX_SET_VBR_QUALITY, &quality);
    speex_encoder_ctl(encoder, SPEEX_SET_COMPLEXITY, &complexity);
    speex_decoder_ctl(decoder, SPEEX_SET_ENH, &on);
    char payload[kBlockBytes];
    std::vector<int16_t> out(vokar::media::kDecodeBufferBytes / 2);
    std::vector<std::vector<int16_t>> blocks = g_blocks; // the library takes mutable frames
    for (auto _ : state)
        for (auto& block : blocks) {
            speex_bits_reset(&enc_bits);
            for (int f = 0; f < 3; ++f)
                speex_encode_int(encoder, block.data() + f * kFrameSamples, &enc_bits);
            speex_bits_pack(&enc_bits, 15, 5);
            const int length = speex_bits_write(&enc_bits, payload, sizeof payload);
            speex_bits_read_from(&dec_bits, payload, length);
            int k = 0;
            while (k < 6 &&
                   speex_decode_int(decoder, &dec_bits, out.data() + k * kFrameSamples) >= 0)
                ++k;
            benchmark::DoNotOptimize(k);
        }
    speex_encoder_destroy(encoder);
    speex_decoder_destroy(decoder);
    speex_bits_destroy(&enc_bits);
    speex_bits_destroy(&dec_bits);
    report(state);
}

void BM_DirectGsm(benchmark::State& state)
{
    gsm encoder = gsm_create();
    gsm decoder = gsm_create();
    int ltp_cut = 3;
    gsm_option(encoder, GSM_OPT_LTP_CUT, &ltp_cut);
    gsm_byte payload[99];
    std::vector<int16_t> out(kBlockSamples);
    std::vector<std::vector<int16_t>> blocks = g_blocks;
    for (auto _ : state)
        for (auto& block : blocks) {
            for (int f = 0; f < 3; ++f)
                gsm_encode(encoder, block.data() + f * kFrameSamples, payload + f * 33);
            for (int f = 0; f < 3; ++f)
                gsm_decode(decoder, payload + f * 33, out.data() + f * kFrameSamples);
            benchmark::DoNotOptimize(out.data());
        }
    gsm_destroy(encoder);
    gsm_destroy(decoder);
    report(state);
}

// A steady stream: one 60 ms packet in and one block out per iteration.
void BM_PlayoutPutGet(benchmark::State& state)
{
    vokar::media::PlayoutBuffer buffer;
    std::vector<int16_t> out(kBlockSamples);
    uint32_t timestamp = 0xFFF00000u; // runs across the 32-bit wrap
    size_t i = 0;
    for (auto _ : state) {
        buffer.put(g_blocks[i].data(), kBlockBytes, timestamp, 0);
        buffer.get(out.data(), kBlockBytes);
        timestamp += kBlockSamples;
        i = (i + 1) % g_blocks.size();
    }
    state.counters["puts/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["gets/s"] = state.counters["puts/s"];
}

void BM_PlayoutGet(benchmark::State& state)
{
    vokar::media::PlayoutBuffer buffer;
    std::vector<int16_t> out(kBlockSamples);
    for (uint32_t k = 0; k < 4; ++k)
        buffer.put(g_blocks[k].data(), kBlockBytes, k * kBlockSamples, 0);
    for (auto _ : state)
        buffer.get(out.data(), kBlockBytes);
    state.counters["gets/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

std::string wav_file(const std::string& name, const std::vector<int16_t>& pcm)
{
    const std::string path =
        (std::getenv("TMPDIR") != nullptr ? std::string(std::getenv("TMPDIR")) : "/tmp") +
        "/vokar_bench_" + name;
    std::ofstream out(path, std::ios::binary);
    out << vokar::platform::wav_header(static_cast<uint32_t>(pcm.size() * 2));
    out.write(reinterpret_cast<const char*>(pcm.data()),
              static_cast<std::streamsize>(pcm.size() * 2));
    return path;
}

// Index of the first sample above a quarter of full scale, or -1.
long first_click(const std::vector<int16_t>& pcm)
{
    for (size_t i = 0; i < pcm.size(); ++i) {
        if (pcm[i] > 8000 || pcm[i] < -8000) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// A call between two engines on loopback: A's microphone plays a click after
// a second of silence; the time from the click entering A's microphone to
// it leaving B's speaker is the mouth-to-ear latency. Both WAV devices run at
// real-time pace from their start, so a sample's index is its time.
void BM_MouthToEar(benchmark::State& state)
{
    using namespace vokar;
    const int payload = static_cast<int>(state.range(0));
    std::vector<int16_t> sent(8000 * 3, 0);
    // The click: 10 ms of a loud 500 Hz square wave, which both codecs carry.
    for (size_t i = 8000; i < 8000 + 80; ++i) {
        sent[i] = ((i - 8000) / 8) % 2 != 0 ? 28000 : -28000;
    }
    const std::string in_a = wav_file("click.wav", sent);
    const std::string in_b = wav_file("silence.wav", std::vector<int16_t>(8000 * 3, 0));
    const std::string out_b = wav_file("heard.wav", {});
    double latency = 0, delay = 0;
    for (auto _ : state) {
        auto devices_a = platform::make_audio_devices({in_a, "none"});
        auto devices_b = platform::make_audio_devices({in_b, out_b});
        media::AudioEngine a(payload, *devices_a, "127.0.0.9");
        media::AudioEngine b(payload, *devices_b, "127.0.0.9");
        const auto start_a = std::chrono::steady_clock::now();
        a.start_audio(1);
        const auto start_b = std::chrono::steady_clock::now();
        b.start_audio(2);
        const uint16_t pa = 47000 + static_cast<uint16_t>(std::rand() % 1000);
        const uint16_t pb = pa + 1000;
        if (!a.start_media({{"127.0.0.1", pa}, {}, {"127.0.0.1", pb}, {}}) ||
            !b.start_media({{"127.0.0.1", pb}, {}, {"127.0.0.1", pa}, {}})) {
            state.SkipWithError("a media port is in use");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2600));
        delay = b.playout_delay() / 8.0;
        a.stop();
        b.stop();
        std::ifstream file(out_b, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), {}};
        const auto samples = platform::wav_samples(bytes);
        std::vector<int16_t> heard(samples ? samples->size() / 2 : 0);
        if (samples) {
            std::memcpy(heard.data(), samples->data(), heard.size() * 2);
        }
        const long at = first_click(heard);
        if (at < 0) {
            state.SkipWithError("the click was not heard");
            return;
        }
        const double offset = std::chrono::duration<double, std::milli>(start_b - start_a).count();
        latency = (static_cast<double>(at) - static_cast<double>(first_click(sent))) / 8.0 + offset;
    }
    // The parts: a block is captured before it is encoded (packet time); the
    // playout buffer holds its delay behind the playout clock; a block pulled
    // by the speaker plays after the 3 others its device holds (the priming
    // depth). The rest is negative when the playout clock runs ahead of the
    // stream: the priming reads before playback advanced it without playing.
    // The WAV devices' tick phase and the loopback hop are in it too.
    const double packet = media::AudioEngine::kPacketMs;
    const double priming = (media::WavePlayer::kDeviceBuffers - 1) * 60.0;
    state.counters["mouth_to_ear_ms"] = latency;
    state.counters["packet_ms"] = packet;
    state.counters["playout_delay_ms"] = delay;
    state.counters["device_queue_ms"] = priming;
    state.counters["rest_ms"] = latency - packet - delay - priming;
}

} // namespace

// Wrapper and direct calls alternate so both see the same machine state.
BENCHMARK(BM_Wrapper)->Name("Speex/wrapper")->Arg(vokar::media::kPayloadSpeex);
BENCHMARK(BM_DirectSpeex)->Name("Speex/direct");
BENCHMARK(BM_Wrapper)->Name("GSM/wrapper")->Arg(vokar::media::kPayloadGsm);
BENCHMARK(BM_DirectGsm)->Name("GSM/direct");
BENCHMARK(BM_PlayoutPutGet);
BENCHMARK(BM_PlayoutGet);
BENCHMARK(BM_MouthToEar)
    ->Name("LoopbackCall/Speex")
    ->Arg(vokar::media::kPayloadSpeex)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MouthToEar)
    ->Name("LoopbackCall/GSM")
    ->Arg(vokar::media::kPayloadGsm)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv)
{
    const std::string dir = vokar::bench::corpus_dir(&argc, argv);
    const std::string speech = vokar::bench::read_corpus_file(dir, "speech-8k-10s.s16le");
    for (size_t at = 0; at < speech.size(); at += kBlockBytes) {
        std::vector<int16_t> block(kBlockSamples, 0);
        std::memcpy(block.data(), speech.data() + at, std::min(kBlockBytes, speech.size() - at));
        g_blocks.push_back(std::move(block));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
