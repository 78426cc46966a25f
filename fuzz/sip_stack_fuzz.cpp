// Whole datagrams fed to a registered stack with a call under way: no crash,
// and memory stays bounded. Datagrams are separated by NUL bytes; "$CID" in a
// datagram becomes the Call-ID of the stack's INVITE, so seeds can answer it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/disposal_queue.h"
#include "platform/clock.h"
#include "sip/sip_stack.h"
#include "tests/sip/scripted_transport.h"

namespace {

class Sink : public vokar::SipListener {
public:
    void on_sip_event(int code, const void* data) override
    {
        if (data && code != vokar::kSipRegistration && code != vokar::kSipUnregistration)
            last_key = static_cast<const vokar::SipCall*>(data)->call_key;
    }
    std::string last_key;
};

std::string last_sent(vokar::test::ScriptedConnection::Log& log)
{
    std::lock_guard lock(log.mutex);
    return log.sent.empty() ? std::string() : log.sent.back();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vokar::platform::ManualClock clock;
    static vokar::Reactor reactor(clock, false);
    static vokar::DisposalQueue disposal(reactor);
    vokar::test::ScriptedConnection::Log log;
    Sink sink;
    {
        vokar::SipStack stack("sip.example.net", reactor, disposal);
        stack.add_listener(&sink);
        stack.add_codec(3);
        stack.open(std::make_unique<vokar::test::ScriptedConnection>(log), "127.0.0.1",
                   "192.0.2.23", 5060, 5098);
        stack.register_account("4915112345678", "secret");
        stack.on_receive(vokar::test::reply(last_sent(log), 200, "OK"));
        const auto key = stack.call("4930987654", "sip.example.net");
        const std::string call_id = vokar::test::header(last_sent(log), "Call-ID");

        const std::string input(reinterpret_cast<const char*>(data), size);
        size_t start = 0;
        while (start <= input.size()) {
            size_t end = input.find('\0', start);
            if (end == std::string::npos)
                end = input.size();
            std::string datagram = input.substr(start, end - start);
            for (size_t at; (at = datagram.find("$CID")) != std::string::npos;)
                datagram.replace(at, 4, call_id);
            stack.on_receive(datagram);
            stack.wait_idle(); // the sink has heard every event
            // The owner acts on what it heard, and time moves on.
            if (!datagram.empty() && datagram[0] % 3 == 0)
                stack.accept(sink.last_key);
            else if (!datagram.empty() && datagram[0] % 3 == 1)
                stack.hangup(sink.last_key);
            clock.advance(4000);
            reactor.run_due();
            start = end + 1;
        }
        if (key)
            stack.hangup(*key);
    }
    clock.advance(400000);
    reactor.run_due();
    return 0;
}
