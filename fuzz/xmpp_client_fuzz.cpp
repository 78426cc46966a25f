// Arbitrary server bytes fed to a logged-in client: no crash, and memory stays
// bounded (a stanza beyond the parser's limits ends the connection).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/logged_in_jabber_client.h"

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
    Sink sink;
    vokar::fuzz::LoggedInJabberClient logged_in(reactor, sink);
    vokar::JabberClient& client = logged_in.client;
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
