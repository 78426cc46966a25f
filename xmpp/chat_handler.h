#pragma once

#include <string>

#include "xml/xml_node.h"
#include "xmpp/session_context.h"

namespace vokar {

// One-to-one chat: sends messages and reports received messages, typing
// notifications and message errors. Holds no state of its own.
class ChatHandler {
public:
    static constexpr const char* kChatStates = "http://jabber.org/protocol/chatstates";

    ChatHandler(SessionContext& session, const TransportLookup& transports);

    void send_message(const std::string& to, const std::string& body);
    void on_message(const XmlNode& message);

private:
    SessionContext& session_;
    const TransportLookup& transports_;
};

} // namespace vokar
