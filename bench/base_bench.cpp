// MD5, scramble and reactor throughput.

#include <benchmark/benchmark.h>

#include "base/md5.h"
#include "base/reactor.h"
#include "base/scan_string.h"
#include "base/scramble.h"
#include "bench/corpus.h"

namespace {

std::vector<std::string> g_md5_inputs;

void BM_Md5Hex(benchmark::State& state)
{
    for (auto _ : state)
        for (const auto& input : g_md5_inputs)
            benchmark::DoNotOptimize(vokar::md5_hex(input));
    state.counters["digests/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * g_md5_inputs.size()), benchmark::Counter::kIsRate);
}

void BM_ScrambleRoundTrip(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(vokar::unscramble(vokar::scramble(text, 0x5A)));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_ScanStringTokens(benchmark::State& state)
{
    const vokar::ScanString header(
        "Via: SIP/2.0/UDP 192.168.1.20:5098;rport;branch=z9hG4bK123456, "
        "SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bK9988;received=10.0.0.1\r\n");
    size_t n = 0;
    for (auto _ : state) {
        vokar::ScanString s = header;
        while (!s.next_token().empty())
            ++n;
    }
    state.counters["tokens/s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}

void BM_ReactorScheduleCancel(benchmark::State& state)
{
    vokar::platform::ManualClock clock;
    vokar::Reactor reactor(clock, false);
    const int queued = static_cast<int>(state.range(0));
    for (int i = 0; i < queued; ++i)
        reactor.schedule([] {}, static_cast<uint32_t>(i % 5000), false);
    for (auto _ : state) {
        const int32_t id = reactor.schedule([] {}, 2500, false);
        reactor.cancel(id);
    }
    state.counters["ops/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_Md5Hex);
BENCHMARK(BM_ScrambleRoundTrip)->Arg(512)->Arg(4096);
BENCHMARK(BM_ScanStringTokens);
BENCHMARK(BM_ReactorScheduleCancel)->Arg(10)->Arg(1000);

int main(int argc, char** argv)
{
    const std::string dir = vokar::bench::corpus_dir(&argc, argv);
    g_md5_inputs =
        vokar::bench::split_lines(vokar::bench::read_corpus_file(dir, "md5-inputs-64.txt"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
