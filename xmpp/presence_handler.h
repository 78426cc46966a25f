#pragma once

#include <mutex>
#include <string>

#include "xml/xml_node.h"
#include "xmpp/jabber_event.h"
#include "xmpp/roster.h"
#include "xmpp/session_context.h"

namespace vokar {

// The roster, the contacts' presence per resource and the user's own
// presence. Roster answers and pushes and received presences come from the
// receive path; the operations come from the callers' threads.
class PresenceHandler {
public:
    PresenceHandler(SessionContext& session, const TransportLookup& transports,
                    std::string tagline);

    // The session has started: the roster get and the initial presence.
    void start_session();
    // A roster answer or push.
    void on_roster(const XmlNode& iq);
    void on_presence(const XmlNode& presence);
    // Raises the presences collected from one received chunk (receive path).
    void flush_batch();

    // Roster set, then presence subscribe.
    void plain_add(const std::string& jid, const std::string& name, const std::string& group);
    void accept(const std::string& jid, const std::string& name, const std::string& group);
    void rename(const std::string& jid, const std::string& name);
    void remove(const std::string& jid);
    // Refuses a subscription request; the item goes too when there is one.
    void reject(const std::string& jid);
    void set_status(int status);
    void set_status_text(const std::string& text);
    bool roster_loaded();
    // The name of the contact's shown (rank 0) resource; empty when the
    // contact is unknown or has no resource online.
    std::string shown_resource(const std::string& bare);
    // The user's current presence; directed when `to` is not empty.
    void send_presence(const std::string& to);

private:
    void send_subscription(const std::string& to, const char* type);
    void roster_set(const std::string& jid, const std::string& name, const std::string& group,
                    bool remove);

    SessionContext& session_;
    const TransportLookup& transports_;
    const std::string tagline_;

    std::mutex mutex_; // the roster and the user's status
    Roster roster_;
    int status_ = kStatusAvailable;
    std::string status_text_;

    // Only the receive path touches the batch.
    JabberEvent batch_;
};

} // namespace vokar
