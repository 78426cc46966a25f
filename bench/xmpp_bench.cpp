// The XMPP client's receive path (parser plus dispatch) on a recorded server
// stream, and the login time against the local XMPP server.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "bench/corpus.h"
#include "net/connection_interface.h"
#include "tests/support/xmpp_server.h"
#include "tests/xmpp/scripted_connection.h"
#include "xmpp/jabber_client.h"

namespace {

std::string g_stream;

class Counter : public vokar::JabberListener {
public:
    void onJabberEvent(int code, const vokar::JabberEvent*) override
    {
        std::lock_guard lock(mutex_);
        ++events_;
        if (code == vokar::kEventRosterLoaded)
            roster_ = true;
        cv_.notify_all();
    }
    bool wait_roster()
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return roster_; });
    }
    long events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long events_ = 0;
    bool roster_ = false;
};

void BM_ReceivePath(benchmark::State& state)
{
    vokar::platform::ManualClock clock;
    vokar::Reactor reactor(clock, false);
    const size_t chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        vokar::test::ScriptedConnection::Log log;
        Counter counter;
        vokar::JabberClient client("example.net", "wm", "2.2", reactor);
        client.addListener(&counter);
        client.connect(std::make_unique<vokar::test::ScriptedConnection>(log), "127.0.0.1", 5222,
                       0);
        for (size_t at = 0; at < g_stream.size(); at += chunk)
            client.onReceive(g_stream.substr(at, chunk));
        benchmark::DoNotOptimize(counter.events());
    }
    state.counters["stanzas/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 2000,
                                                     benchmark::Counter::kIsRate);
}

vokar::test::XmppServer* g_server = nullptr;

void BM_LoginToRoster(benchmark::State& state)
{
    if (!g_server) {
        state.SkipWithError("no XMPP server");
        return;
    }
    vokar::Reactor reactor;
    const auto& account = g_server->accounts()[0];
    for (auto _ : state) {
        Counter counter;
        vokar::JabberClient client(g_server->domain(), "wm", "2.2", reactor);
        client.addListener(&counter);
        client.connect(std::make_unique<vokar::ConnectionInterface>("", true, false, nullptr,
                                                                    nullptr, vokar::TunnelServer{}),
                       g_server->host(), g_server->port(), 0);
        while (!client.connected())
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        client.login(account.user, account.password);
        if (!counter.wait_roster()) {
            state.SkipWithError("login did not complete");
            break;
        }
        client.logout();
    }
}

} // namespace

BENCHMARK(BM_ReceivePath)->Arg(1460)->Arg(16384)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoginToRoster)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv)
{
    const std::string dir = vokar::bench::corpus_dir(&argc, argv);
    g_stream = vokar::bench::read_corpus_file(dir, "xmpp-stream.xml");
    vokar::test::XmppServer server;
    if (server.start())
        g_server = &server;
    else
        std::fprintf(stderr, "login benchmark skipped: %s\n", server.error().c_str());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
