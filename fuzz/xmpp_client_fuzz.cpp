// Arbitrary server bytes fed to a logged-in client: no crash, and memory stays
// bounded (a stanza beyond the parser's limits ends the connection).
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/base64.h"
#include "tests/xmpp/scripted_connection.h"
#include "xmpp/jabber_client.h"

namespace {

class Sink : public vokar::JabberListener {
public:
    void onJabberEvent(int, const vokar::JabberEvent*) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vokar::platform::ManualClock clock;
    static vokar::Reactor reactor(clock, false);
    vokar::test::ScriptedConnection::Log log;
    Sink sink;
    vokar::JabberClient::Options options;
    options.first_id = 100;
    options.resource = "Vokar_WM_J_1";
    vokar::JabberClient client("vokar.test", "wm", "2.2", reactor, options);
    client.addListener(&sink);
    client.connect(std::make_unique<vokar::test::ScriptedConnection>(log), "127.0.0.1", 5222, 5098);
    client.login("alice", "secret");
    const std::string header =
        "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
        "xmlns:stream='http://etherx.jabber.org/streams' from='vokar.test' version='1.0'>";
    client.onReceive(header + "<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>" + header +
                     "<iq id='101' type='result'/><iq id='102' type='result'/>");
    // The input in pieces whose sizes come from the input itself.
    size_t at = 0;
    while (at < size) {
        const size_t piece = 1 + data[at] % 64;
        const size_t n = std::min(piece, size - at);
        client.onReceive(std::string(reinterpret_cast<const char*>(data + at), n));
        at += n;
    }
    clock.advance(300001);
    reactor.run_due();
    return 0;
}
