#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "xml/xml_node.h"
#include "xmpp/jingle_content.h"
#include "xmpp/jingle_session.h"
#include "xmpp/session_context.h"

namespace vokar {

// Conditions of a session-terminate we send.
enum JingleCondition : int {
    kConditionBusy = 0,
    kConditionDecline = 1,
    kConditionAlternativeSession = 2,
    kConditionConnectivityError = 3,
    kConditionGeneralError = 4,
    kConditionMediaError = 5,
    kConditionUnsupportedApplications = 8,
    kConditionUnsupportedTransports = 9,
};

// Call signalling: keeps the live sessions, starts outgoing calls, turns
// received Jingle iqs into session actions and answers them.
//
// The session list and every session's fields belong to the client's
// receiver mutex. The receive path holds it already; the operations take it
// to read or change a session and to build their stanza, and send after
// releasing it. A session leaves the list exactly once, under that mutex:
// whichever thread removes it is the one that ends it, so an operation on a
// session that has already ended does nothing.
class JingleManager {
public:
    using Session = std::shared_ptr<JingleSession>;
    // The contact's shown resource, empty when it has none online.
    using ResourceLookup = std::function<std::string(const std::string& bare)>;

    // Beyond this many live sessions, incoming calls are answered busy and
    // outgoing ones cannot be placed.
    static constexpr size_t kMaxSessions = 8;
    // Remote ICE candidates kept per content.
    static constexpr size_t kMaxCandidates = 32;

    JingleManager(SessionContext& context, platform::NamedMutex& receiver_mutex,
                  ResourceLookup shown_resource);

    // Callers' threads.
    void register_codec(const PayloadType& codec);
    Session start_call(const std::string& peer, const std::vector<TransportAddress>& addresses,
                       int transport_kind);
    void send_ringing(const Session& session);
    void accept(const Session& session);
    void set_local_addresses(const Session& session,
                             const std::vector<TransportAddress>& addresses);
    // An empty alternative sid sends none.
    void terminate(const Session& session, int condition, const std::string& alternative_sid);
    // The payload ids and endpoints of the session's first remote content.
    std::vector<int32_t> payload_ids(const Session& session);
    MediaEndpoints media_endpoints(const Session& session);
    size_t session_count();

    // The receive path, under the receiver mutex: a Jingle request nobody
    // was waiting for.
    void on_iq(const XmlNode& iq);

private:
    enum ErrorKind { kBadRequest, kUnknownSession, kOutOfOrder, kUnsupportedInfo };

    bool listed(const JingleSession* session) const;
    bool remove(const JingleSession* session);
    // The event of a session; built under the mutex when not on the receive path.
    static JabberEvent event_for(const Session& session);
    void raise(int code, const Session& session); // the receive path

    std::unique_ptr<XmlNode> request(const JingleSession& s, const char* action, XmlNode** jingle);
    std::unique_ptr<XmlNode> terminate_request(const JingleSession& s, int condition,
                                               const std::string& alternative_sid);
    void send_request(const Session& s, std::unique_ptr<XmlNode> iq, bool initiate);
    void on_answer(const std::weak_ptr<JingleSession>& weak, const std::string& sid,
                   const XmlNode& answer, bool initiate);
    void acknowledge(const JingleSession& s, const XmlNode& iq);
    void send_error(const XmlNode& iq, const std::string& from, ErrorKind kind);

    void on_initiate(const Session& s, const XmlNode& iq, const XmlNode& jingle, bool over_limit);
    void dispatch(const Session& s, const XmlNode& iq, const XmlNode& jingle);
    void on_transport_info(JingleSession& s, const XmlNode& jingle);

    SessionContext& context_;
    platform::NamedMutex& mutex_;
    const ResourceLookup shown_resource_;

    // Under mutex_.
    std::vector<PayloadType> codecs_;
    std::vector<Session> sessions_;
};

} // namespace vokar
