// SIP datagrams: parsing the corpus with our parser and with libosip2's,
// serialising them, and building the messages the user agent sends. Each
// reports messages/s and, where the processor's counter can be read,
// instructions per message (else measure them with callgrind). Then a
// registration's round trip through the operator's SIP front and Kamailio.

#include <benchmark/benchmark.h>
#include <linux/perf_event.h>
#include <osipparser2/osip_parser.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "bench/corpus.h"
#include "net/connection_interface.h"
#include "sip/sip_builder.h"
#include "sip/sip_stack.h"
#include "tests/support/sip_server.h"

namespace {

std::vector<std::string> g_messages;

// Instructions retired in user space by this thread, where the processor and
// the kernel let a process count them; otherwise read_count() is 0 and the
// counter is left out (run the program under callgrind instead).
class InstructionCounter {
public:
    InstructionCounter()
    {
        perf_event_attr attr;
        std::memset(&attr, 0, sizeof attr);
        attr.size = sizeof attr;
        attr.type = PERF_TYPE_HARDWARE;
        attr.config = PERF_COUNT_HW_INSTRUCTIONS;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        fd_ = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    }
    ~InstructionCounter()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    InstructionCounter(const InstructionCounter&) = delete;
    InstructionCounter& operator=(const InstructionCounter&) = delete;

    long long read_count() const
    {
        long long value = 0;
        if (fd_ < 0 || ::read(fd_, &value, sizeof value) != sizeof value)
            return 0;
        return value;
    }

private:
    int fd_ = -1;
};

// Runs `work` (which handles `per_round` messages) in the benchmark loop and
// reports messages/s and instructions per message.
template <typename Work> void run(benchmark::State& state, size_t per_round, Work work)
{
    InstructionCounter counter;
    const long long before = counter.read_count();
    for (auto _ : state)
        work();
    const long long instructions = counter.read_count() - before;
    const double messages = static_cast<double>(state.iterations() * per_round);
    state.counters["messages/s"] = benchmark::Counter(messages, benchmark::Counter::kIsRate);
    if (instructions > 0 && messages > 0)
        state.counters["instructions/message"] = static_cast<double>(instructions) / messages;
}

void BM_SipParse(benchmark::State& state)
{
    run(state, g_messages.size(), [] {
        for (const auto& text : g_messages) {
            auto msg = vokar::parse(text);
            benchmark::DoNotOptimize(msg);
        }
    });
}

void BM_OsipParse(benchmark::State& state)
{
    run(state, g_messages.size(), [&state] {
        for (const auto& text : g_messages) {
            osip_message_t* msg = nullptr;
            osip_message_init(&msg);
            if (osip_message_parse(msg, text.data(), text.size()) != OSIP_SUCCESS)
                state.SkipWithError("libosip2 rejected a corpus message");
            benchmark::DoNotOptimize(msg);
            osip_message_free(msg);
        }
    });
}

// Serialising: our parsed messages through the builder's to_text, libosip2's
// through osip_message_to_str.
void BM_SipToText(benchmark::State& state)
{
    std::vector<vokar::SipMessage> parsed;
    for (const auto& text : g_messages)
        parsed.push_back(*vokar::parse(text));
    run(state, parsed.size(), [&parsed] {
        for (const auto& msg : parsed) {
            auto text = msg.to_text();
            benchmark::DoNotOptimize(text);
        }
    });
}

void BM_OsipToStr(benchmark::State& state)
{
    std::vector<osip_message_t*> parsed;
    for (const auto& text : g_messages) {
        osip_message_t* msg = nullptr;
        osip_message_init(&msg);
        osip_message_parse(msg, text.data(), text.size());
        parsed.push_back(msg);
    }
    run(state, parsed.size(), [&parsed] {
        for (osip_message_t* msg : parsed) {
            // Without this libosip2 hands back a copy of the parsed text.
            osip_message_force_update(msg);
            char* text = nullptr;
            size_t length = 0;
            osip_message_to_str(msg, &text, &length);
            benchmark::DoNotOptimize(text);
            osip_free(text);
        }
    });
    for (osip_message_t* msg : parsed)
        osip_message_free(msg);
}

// What the user agent sends over one registration and two calls: REGISTER,
// REGISTER with credentials, INVITE with SDP and with proxy credentials,
// ACK, CANCEL, BYE, and the answers 100, 180, 200 with SDP, 486, and the
// 200s to BYE, OPTIONS, MESSAGE and NOTIFY; each built and turned to text.
void BM_SipBuild(benchmark::State& state)
{
    vokar::SipCore core;
    core.username = "4915112345678";
    core.password = "secret";
    core.domain = "sip.example.net";
    core.display_name = "Alice";
    core.local_ip = "192.0.2.23";
    core.sip_port = 5098;
    core.add_codec(3);
    core.add_codec(97);
    vokar::SipDialog outgoing;
    outgoing.call_id = "330871-329904-4915112345678";
    outgoing.method = "INVITE";
    outgoing.local_tag = "331902";
    outgoing.branch = "z9hG4bK1057733";
    outgoing.confirmed = true;
    outgoing.remote_address = vokar::parse_name_addr("<sip:4930987654@sip.example.net>;tag=as5");
    outgoing.challenges.push_back(
        {"sip.example.net", "6931f2a80000c4e1", vokar::kProxyAuthenticate, {}, {}, {}, {}});
    vokar::SipDialog registration = outgoing;
    registration.method = "REGISTER";
    registration.challenges[0].header_name = vokar::kWwwAuthenticate;
    vokar::SipDialog incoming;
    incoming.update_from_request(*vokar::parse(g_messages.back()));
    incoming.method = "INVITE";
    incoming.local_tag = "9911";
    incoming.remote_address =
        vokar::parse_name_addr("\"Bob\" <sip:4930987654@sip.example.net>;tag=77");
    incoming.call_id = "8f14e45fceea167a@198.51.100.80";

    constexpr size_t kBuilt = 16;
    run(state, kBuilt, [&] {
        std::string_view method = "REGISTER";
        const auto send = [](const vokar::SipMessage& msg) {
            auto text = msg.to_text();
            benchmark::DoNotOptimize(text);
        };
        send(vokar::new_request(core, 1, method, "", "", 1200));
        send(vokar::dialog_request(core, registration, 2, method, 1200));
        vokar::SipMessage invite =
            vokar::new_request(core, 3, "INVITE", "4930987654", "sip.example.net", -1);
        invite.set_sdp_body(vokar::local_session(core));
        send(invite);
        vokar::SipMessage authorised = vokar::dialog_request(core, outgoing, 4, "INVITE", -1);
        authorised.set_sdp_body(vokar::local_session(core));
        send(authorised);
        send(vokar::dialog_request(core, outgoing, 4, "ACK", -1));
        send(vokar::dialog_request(core, outgoing, 5, "CANCEL", -1));
        send(vokar::dialog_request(core, outgoing, 6, "BYE", -1));
        send(vokar::new_response(core, incoming, vokar::kReasonTrying, 100));
        send(vokar::new_response(core, incoming, vokar::kReasonRinging, 180));
        vokar::SipMessage answer =
            vokar::new_response(core, incoming, vokar::kReasonCallAccepted, 200);
        answer.set_sdp_body(vokar::local_session(core));
        send(answer);
        send(vokar::new_response(core, incoming, vokar::kReasonBusyHere, 486));
        send(vokar::new_response(core, incoming, vokar::kReasonCallTerminated, 200));
        send(vokar::new_response(core, incoming, vokar::kReasonOptions, 200));
        send(vokar::new_response(core, incoming, vokar::kReasonMessageReceived, 200));
        send(vokar::new_response(core, incoming, vokar::kReasonNotifyInDialog, 200));
        send(vokar::new_response(core, incoming, vokar::kReasonNotifyOutOfDialog, 200));
    });
}

// The outcomes of a SipStack's registrations, in order.
class RegistrationLog : public vokar::SipListener {
public:
    void on_sip_event(int code, const void* data) override
    {
        if (code != vokar::kSipRegistration && code != vokar::kSipUnregistration)
            return;
        std::lock_guard lock(mutex_);
        outcomes_.push_back({code, static_cast<const vokar::SipResult*>(data)->code});
        changed_.notify_all();
    }

    // Waits for the next outcome; true when it is `code` with success.
    bool next_succeeded(int code)
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return !outcomes_.empty(); }))
            return false;
        const auto [seen, result] = outcomes_.front();
        outcomes_.erase(outcomes_.begin());
        return seen == code && result == vokar::SipResult::kSuccess;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<int, int>> outcomes_;
};

// REGISTER, its digest challenge, the REGISTER with credentials and the
// 200, over loopback through the scrambling front to Kamailio; the
// unregistration between two rounds is not timed. The server is started
// once, at the first run.
void BM_RegistrationRoundTrip(benchmark::State& state)
{
    static std::unique_ptr<vokar::test::SipServer> server;
    if (!server) {
        server = std::make_unique<vokar::test::SipServer>();
        if (!server->start()) {
            state.SkipWithError(("no SIP server: " + server->error()).c_str());
            server.reset();
            return;
        }
    }
    const vokar::test::SipAccount& account = server->accounts()[0];
    vokar::Reactor reactor;
    vokar::DisposalQueue disposal(reactor);
    RegistrationLog log;
    vokar::SipStack stack(server->domain(), reactor, disposal);
    stack.add_listener(&log);
    stack.set_local_address("127.0.0.1", 40000);
    stack.open(std::make_unique<vokar::ConnectionInterface>(
                   "127.0.0.1", false, server->scramble(), [](int, int) {}, nullptr,
                   vokar::TunnelServer{}),
               server->host(), "127.0.0.1", server->port(), 0);
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        stack.register_account(account.user, account.password);
        const bool registered = log.next_succeeded(vokar::kSipRegistration);
        const auto end = std::chrono::steady_clock::now();
        if (!registered) {
            state.SkipWithError("the registration did not succeed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        stack.unregister();
        if (!log.next_succeeded(vokar::kSipUnregistration)) {
            state.SkipWithError("the unregistration did not succeed");
            break;
        }
    }
    stack.remove_listener(&log);
    state.counters["registrations/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_SipParse);
BENCHMARK(BM_OsipParse);
BENCHMARK(BM_SipToText);
BENCHMARK(BM_OsipToStr);
BENCHMARK(BM_SipBuild);
BENCHMARK(BM_RegistrationRoundTrip)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = vokar::bench::corpus_dir(&argc, argv);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir + "/sip"))
        if (entry.path().extension() == ".sip")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files)
        g_messages.push_back(vokar::bench::read_corpus_file(dir + "/sip", file.filename()));
    if (g_messages.empty()) {
        std::fprintf(stderr, "no SIP messages in %s/sip\n", dir.c_str());
        return 2;
    }
    parser_init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
