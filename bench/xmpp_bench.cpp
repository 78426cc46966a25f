// The XMPP client's receive path (parser plus dispatch) on a recorded server
// stream, reading the stream's Jingle offers and building answers to them,
// and the login time against the local XMPP server.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "bench/corpus.h"
#include "net/connection_interface.h"
#include "tests/support/scripted_connection.h"
#include "tests/support/xmpp_server.h"
#include "xmpp/jabber_client.h"
#include "xmpp/jingle_content.h"

namespace {

std::string g_stream;
std::vector<std::string> g_initiates; // the stream's session-initiate stanzas

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

// Each offer parsed and its contents read as an incoming call reads them.
void BM_JingleInitiateParse(benchmark::State& state)
{
    for (auto _ : state) {
        for (const std::string& stanza : g_initiates) {
            const auto doc = vokar::XmlNode::parse(stanza);
            const vokar::XmlNode* jingle = doc ? doc->find_element("jingle") : nullptr;
            if (!jingle)
                continue;
            for (const auto& child : jingle->children)
                if (child->name == "content")
                    benchmark::DoNotOptimize(vokar::read_offered_content(*child));
        }
    }
    state.counters["initiates/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * g_initiates.size()), benchmark::Counter::kIsRate);
}

// The session-accept stanza for a call answered with our two codecs and
// three addresses, built and serialized.
void BM_JingleAcceptBuild(benchmark::State& state)
{
    vokar::JingleContent content =
        vokar::new_local_content(vokar::kTransportAddress, {{97, "speex"}, {3, "gsm"}});
    content.addresses = {{"192.0.2.7", "peer", 40000},
                         {"203.0.113.7", "stun", 40000},
                         {"198.51.100.7", "proxy", 10000}};
    int id = 0;
    for (auto _ : state) {
        vokar::XmlNode iq("iq");
        iq.add_attribute("id", std::to_string(++id));
        iq.add_attribute("from", "alice@example.net/Vokar_WM_J_1");
        iq.add_attribute("to", "ines.berg34@example.net/phone");
        iq.add_attribute("type", "set");
        vokar::XmlNode* jingle = iq.add_child("jingle");
        jingle->add_attribute("xmlns", vokar::jingle_ns::kJingle);
        jingle->add_attribute("action", "session-accept");
        jingle->add_attribute("initiator", "ines.berg34@example.net/phone");
        jingle->add_attribute("sid", "f2ae1e25ef88");
        vokar::write_content(*jingle, content);
        benchmark::DoNotOptimize(iq.serialize());
    }
    state.counters["accepts/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
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
BENCHMARK(BM_JingleInitiateParse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JingleAcceptBuild)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoginToRoster)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv)
{
    const std::string dir = vokar::bench::corpus_dir(&argc, argv);
    g_stream = vokar::bench::read_corpus_file(dir, "xmpp-stream.xml");
    for (const std::string& line : vokar::bench::split_lines(g_stream))
        if (line.find("action='session-initiate'") != std::string::npos)
            g_initiates.push_back(line);
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
