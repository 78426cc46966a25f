// Jingle iqs of arbitrary shape fed to a logged-in client that has a contact
// online, interleaved with the call operations: no crash, and the live
// sessions never exceed the manager's bound.
//
// The input is a list of records separated by 0x01. A record that starts with
// '<' is fed as received bytes; any other record runs the operation its first
// byte names on the session of the latest call event.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/logged_in_jabber_client.h"

namespace {

class Sink : public vokar::JabberListener {
public:
    void onJabberEvent(int, const vokar::JabberEvent* event) override
    {
        if (event && event->session)
            session = event->session;
    }
    std::shared_ptr<vokar::JingleSession> session;
};

void operate(vokar::JabberClient& client, Sink& sink, std::string_view record)
{
    const auto op = static_cast<uint8_t>(record[0]);
    const int kind = (op & 0x10) ? vokar::kTransportIceUdp : vokar::kTransportAddress;
    const std::vector<vokar::TransportAddress> addresses = {{"127.0.0.1", "peer", 4000}};
    switch (op % 8) {
    case 0:
        if (auto s = client.startCall("bob@vokar.test", addresses, kind))
            sink.session = s;
        break;
    case 1:
        client.sendRinging(sink.session);
        break;
    case 2:
        client.setLocalAddresses(sink.session, addresses);
        break;
    case 3:
        client.accept(sink.session);
        break;
    case 4:
        client.terminate(sink.session, op / 8 % 10, op & 0x80 ? "1000001" : "");
        break;
    case 5:
        client.payloadIds(sink.session);
        client.mediaEndpoints(sink.session);
        break;
    default:
        sink.session.reset();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vokar::platform::ManualClock clock;
    static vokar::Reactor reactor(clock, false);
    Sink sink;
    vokar::fuzz::LoggedInJabberClient logged_in(
        reactor, sink,
        "<iq id='103' type='result'><query xmlns='jabber:iq:roster'>"
        "<item jid='bob@vokar.test' subscription='both'/></query></iq>"
        "<presence from='bob@vokar.test/Vokar_WM_J_7'/>");
    vokar::JabberClient& client = logged_in.client;
    vokar::test::ScriptedConnection::Log& log = logged_in.log;
    client.registerCodec({97, "speex"});
    client.registerCodec({3, "gsm"});

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    while (at < input.size()) {
        size_t end = input.find('\x01', at);
        if (end == std::string_view::npos)
            end = input.size();
        const std::string_view record = input.substr(at, end - at);
        at = end + 1;
        if (record.empty())
            continue;
        if (record[0] == '<')
            client.onReceive(std::string(record));
        else
            operate(client, sink, record);
        if (client.sessionCount() > vokar::JingleManager::kMaxSessions)
            std::abort();
        std::lock_guard lock(log.mutex);
        log.sent.clear();
    }
    return 0;
}
