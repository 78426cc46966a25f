// A JabberClient logged in over a scripted connection, for the fuzz targets
// that feed it server bytes.
#pragma once

#include <memory>
#include <string>

#include "tests/support/scripted_connection.h"
#include "xmpp/jabber_client.h"

namespace vokar::fuzz {

inline JabberClient::Options logged_in_client_options()
{
    JabberClient::Options options;
    options.first_id = 100;
    options.resource = "Vokar_WM_J_1";
    return options;
}

// Owns the client and the log its connection writes to. The listener must
// outlive this. After construction the stream is authenticated, bound and in
// session; `after_session` is received next (e.g. a roster and presences).
struct LoggedInJabberClient {
    LoggedInJabberClient(Reactor& reactor, JabberListener& listener,
                         const std::string& after_session = "")
        : client("vokar.test", "wm", "2.2", reactor, logged_in_client_options())
    {
        client.addListener(&listener);
        client.connect(std::make_unique<test::ScriptedConnection>(log), "127.0.0.1", 5222, 5098);
        client.login("alice", "secret");
        const std::string header =
            "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
            "xmlns:stream='http://etherx.jabber.org/streams' from='vokar.test' version='1.0'>";
        client.onReceive(header + "<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>" + header +
                         "<iq id='101' type='result'/><iq id='102' type='result'/>" +
                         after_session);
    }

    test::ScriptedConnection::Log log;
    JabberClient client;
};

} // namespace vokar::fuzz
