#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/xml_node.h"
#include "xmpp/jabber_event.h"

namespace vokar {

// What the feature handlers need of the stream and session core: events for
// the listeners, stanza ids, sending, and requests that wait for an answer.
class SessionContext {
public:
    virtual ~SessionContext() = default;

    virtual void raise(int code, const JabberEvent* event) = 0;
    // The next stanza id: every stanza the client originates takes one.
    virtual std::string next_id() = 0;
    virtual void send(const XmlNode& stanza) = 0;
    // Sends an iq and keeps it pending until the answer with its id arrives;
    // an empty handler drops the answer.
    virtual void send_request(XmlNode& iq, std::function<void(const XmlNode&)> on_result) = 0;
    // Bound and in session: presence and roster are live.
    virtual bool in_session() const = 0;
    virtual std::string domain() = 0;
    virtual std::string full_jid() = 0;

    // An iq with a fresh id followed by the given attributes, in order.
    std::unique_ptr<XmlNode>
    new_iq(std::initializer_list<std::pair<const char*, std::string>> attributes);
};

// The gateways as the other handlers see them (the gateway handler owns them).
class TransportLookup {
public:
    virtual ~TransportLookup() = default;
    // -1 when the bare JID is no transport's.
    virtual int network_of(std::string_view jid) const = 0;
    // The JIDs of the transports the user is registered with.
    virtual std::vector<std::string> registered_jids() const = 0;
};

// The attribute's value, or "" when it is absent.
std::string attribute_or_empty(const XmlNode& node, std::string_view name);

} // namespace vokar
