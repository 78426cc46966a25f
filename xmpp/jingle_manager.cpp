#include "xmpp/jingle_manager.h"

#include <algorithm>

#include "base/random.h"
#include "base/scan_string.h"
#include "xmpp/roster.h"

namespace vokar {
namespace {

const char* condition_name(int condition)
{
    switch (condition) {
    case kConditionBusy:
        return "busy";
    case kConditionDecline:
        return "decline";
    case kConditionAlternativeSession:
        return "alternative-session";
    case kConditionConnectivityError:
        return "connectivity-error";
    case kConditionMediaError:
        return "media-error";
    case kConditionUnsupportedApplications:
        return "unsupported-applications";
    case kConditionUnsupportedTransports:
        return "unsupported-transports";
    default:
        return "general-error";
    }
}

// Resources of clients that take Jingle calls carry a "J" token after the
// first two ("Vokar_WM_J_12345").
bool takes_jingle_calls(const std::string& resource)
{
    ScanString tokens{std::string_view(resource)};
    tokens.next_token("_");
    tokens.next_token("_");
    for (;;) {
        const ScanString token = tokens.next_token("_");
        if (token.empty())
            return false;
        if (token == "J")
            return true;
    }
}

const XmlNode* first_child(const XmlNode& node, std::string_view name)
{
    for (const auto& child : node.children)
        if (child->name == name)
            return child.get();
    return nullptr;
}

} // namespace

JingleManager::JingleManager(SessionContext& context, platform::NamedMutex& receiver_mutex,
                             ResourceLookup shown_resource)
    : context_(context), mutex_(receiver_mutex), shown_resource_(std::move(shown_resource))
{
}

bool JingleManager::listed(const JingleSession* session) const
{
    return std::any_of(sessions_.begin(), sessions_.end(),
                       [&](const Session& s) { return s.get() == session; });
}

bool JingleManager::remove(const JingleSession* session)
{
    const auto it = std::find_if(sessions_.begin(), sessions_.end(),
                                 [&](const Session& s) { return s.get() == session; });
    if (it == sessions_.end())
        return false;
    sessions_.erase(it);
    return true;
}

JabberEvent JingleManager::event_for(const Session& session)
{
    JabberEvent event;
    event.session = session;
    event.sid = session->sid;
    event.text = session->reason;
    return event;
}

void JingleManager::raise(int code, const Session& session)
{
    const JabberEvent event = event_for(session);
    context_.raise(code, &event);
}

size_t JingleManager::session_count()
{
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

// ---- stanzas

std::unique_ptr<XmlNode> JingleManager::request(const JingleSession& s, const char* action,
                                                XmlNode** jingle)
{
    auto iq = context_.new_iq({{"from", s.own_jid}, {"to", s.peer_jid}, {"type", "set"}});
    XmlNode* j = iq->add_child("jingle");
    j->add_attribute("xmlns", jingle_ns::kJingle);
    j->add_attribute("action", action);
    j->add_attribute("initiator", s.initiator);
    j->add_attribute("sid", s.sid);
    if (jingle)
        *jingle = j;
    return iq;
}

std::unique_ptr<XmlNode> JingleManager::terminate_request(const JingleSession& s, int condition,
                                                          const std::string& alternative_sid)
{
    XmlNode* jingle = nullptr;
    auto iq = request(s, "session-terminate", &jingle);
    XmlNode* reason = jingle->add_child("reason");
    reason->add_child("condition")->add_child(condition_name(condition));
    if (!alternative_sid.empty())
        reason->add_child("sid")->text = alternative_sid;
    return iq;
}

void JingleManager::send_request(const Session& s, std::unique_ptr<XmlNode> iq, bool initiate)
{
    context_.send_request(*iq,
                          [this, weak = std::weak_ptr<JingleSession>(s), sid = s->sid, initiate](
                              const XmlNode& answer) { on_answer(weak, sid, answer, initiate); });
}

void JingleManager::acknowledge(const JingleSession& s, const XmlNode& iq)
{
    XmlNode ack("iq");
    ack.add_attribute("id", attribute_or_empty(iq, "id"));
    ack.add_attribute("from", s.own_jid);
    ack.add_attribute("to", s.peer_jid);
    ack.add_attribute("type", "result");
    context_.send(ack);
}

void JingleManager::send_error(const XmlNode& iq, const std::string& from, ErrorKind kind)
{
    XmlNode reply("iq");
    reply.add_attribute("id", attribute_or_empty(iq, "id"));
    reply.add_attribute("from", from);
    reply.add_attribute("to", attribute_or_empty(iq, "from"));
    reply.add_attribute("type", "error");
    XmlNode* error = reply.add_child("error");
    error->add_attribute("type", "cancel");
    const auto condition = [&](const char* name, const char* ns) {
        error->add_child(name)->add_attribute("xmlns", ns);
    };
    switch (kind) {
    case kBadRequest:
        condition("bad-request", jingle_ns::kStanzas);
        break;
    case kUnknownSession:
        condition("bad-request", jingle_ns::kStanzas);
        condition("unknown-session", jingle_ns::kErrors);
        break;
    case kOutOfOrder:
        condition("out-of-order", jingle_ns::kStanzas);
        break;
    case kUnsupportedInfo:
        condition("unsupported-info", jingle_ns::kStanzas);
        break;
    }
    context_.send(reply);
}

// ---- the operations

void JingleManager::register_codec(const PayloadType& codec)
{
    std::lock_guard lock(mutex_);
    if (std::none_of(codecs_.begin(), codecs_.end(),
                     [&](const PayloadType& p) { return p.id == codec.id; }))
        codecs_.push_back(codec);
}

JingleManager::Session JingleManager::start_call(const std::string& peer,
                                                 const std::vector<TransportAddress>& addresses,
                                                 int transport_kind)
{
    const std::string bare = bare_jid(peer);
    const std::string resource = shown_resource_(bare);
    if (resource.empty() || !takes_jingle_calls(resource)) {
        context_.raise(kEventCallImpossible, nullptr);
        return nullptr;
    }
    auto session = std::make_shared<JingleSession>(JingleSession::kAudio);
    std::unique_ptr<XmlNode> initiate;
    bool resource_gone = false;
    JabberEvent impossible;
    {
        std::lock_guard lock(mutex_);
        if (sessions_.size() >= kMaxSessions) {
            resource_gone = true; // reported like a peer that cannot take the call
            session.reset();
        } else {
            sessions_.push_back(session);
            JingleSession& s = *session;
            s.reason.clear();
            s.transport_kind = transport_kind;
            JingleContent content = new_local_content(transport_kind, codecs_);
            if (transport_kind == kTransportIceUdp) {
                for (const TransportAddress& a : addresses) {
                    IceCandidate candidate;
                    candidate.ip = a.ip;
                    candidate.port = a.port;
                    content.ice.local.push_back(std::move(candidate));
                }
            } else {
                content.addresses = addresses;
            }
            s.local_contents.push_back(std::move(content));
            s.own_jid = context_.full_jid();
            // The contact may have gone offline since the check above.
            const std::string now = shown_resource_(bare);
            if (now.empty()) {
                resource_gone = true;
                impossible = event_for(session);
            } else {
                s.peer_jid = bare + "/" + now;
                if (!s.local_contents.empty() && s.state != JingleSession::kActive) {
                    s.initiator = s.own_jid;
                    s.sid = std::to_string(1000000 + random_number() % 100000);
                    s.state = JingleSession::kPending;
                    XmlNode* jingle = nullptr;
                    initiate = request(s, "session-initiate", &jingle);
                    for (const JingleContent& c : s.local_contents)
                        write_content(*jingle, c);
                }
            }
        }
    }
    if (resource_gone) {
        context_.raise(kEventCallImpossible, session ? &impossible : nullptr);
        return session;
    }
    if (initiate)
        send_request(session, std::move(initiate), true);
    return session;
}

void JingleManager::send_ringing(const Session& session)
{
    if (!session)
        return;
    std::unique_ptr<XmlNode> iq;
    {
        std::lock_guard lock(mutex_);
        if (!listed(session.get()))
            return;
        XmlNode* jingle = nullptr;
        iq = request(*session, "session-info", &jingle);
        jingle->add_child("ringing")->add_attribute("xmlns", jingle_ns::kAudioRtpInfo);
    }
    send_request(session, std::move(iq), false);
}

void JingleManager::accept(const Session& session)
{
    if (!session)
        return;
    std::unique_ptr<XmlNode> iq;
    JabberEvent accepted;
    {
        std::lock_guard lock(mutex_);
        JingleSession& s = *session;
        // Once accepted, a session is not accepted again.
        if (!listed(&s) || s.state == JingleSession::kActive || s.local_contents.empty() ||
            s.remote_contents.empty())
            return;
        s.state = JingleSession::kActive;
        XmlNode* jingle = nullptr;
        iq = request(s, "session-accept", &jingle);
        write_content(*jingle, s.local_contents.front());
        accepted = event_for(session);
    }
    send_request(session, std::move(iq), false);
    context_.raise(kEventCallAccepted, &accepted);
}

void JingleManager::set_local_addresses(const Session& session,
                                        const std::vector<TransportAddress>& addresses)
{
    if (!session)
        return;
    std::lock_guard lock(mutex_);
    JingleSession& s = *session;
    if (!listed(&s))
        return;
    s.transport_kind = kTransportAddress;
    if (s.local_contents.empty())
        s.local_contents.push_back(new_local_content(kTransportAddress, codecs_));
    for (JingleContent& c : s.local_contents)
        c.addresses = addresses;
}

void JingleManager::terminate(const Session& session, int condition,
                              const std::string& alternative_sid)
{
    if (!session)
        return;
    std::unique_ptr<XmlNode> iq;
    {
        std::lock_guard lock(mutex_);
        if (!remove(session.get()))
            return; // ended already, by the peer or by another thread
        // A call whose initiate was never sent has no peer to tell.
        if (session->state == JingleSession::kNew)
            return;
        iq = terminate_request(*session, condition, alternative_sid);
    }
    send_request(session, std::move(iq), false);
}

std::vector<int32_t> JingleManager::payload_ids(const Session& session)
{
    std::vector<int32_t> ids;
    if (!session)
        return ids;
    std::lock_guard lock(mutex_);
    if (!session->remote_contents.empty())
        for (const PayloadType& p : session->remote_contents.front().payload_types)
            ids.push_back(p.id);
    return ids;
}

MediaEndpoints JingleManager::media_endpoints(const Session& session)
{
    if (!session)
        return {};
    std::lock_guard lock(mutex_);
    if (session->remote_contents.empty())
        return {};
    return vokar::media_endpoints(session->remote_contents.front());
}

// ---- the receive path

void JingleManager::on_answer(const std::weak_ptr<JingleSession>& weak, const std::string& sid,
                              const XmlNode& answer, bool initiate)
{
    const std::string type = attribute_or_empty(answer, "type");
    if (type == "error") {
        JabberEvent event;
        event.sid = sid;
        context_.raise(kEventJingleError, &event);
        return;
    }
    const Session s = weak.lock();
    if (type != "result" || !s || !listed(s.get()))
        return;
    // A result for one of the session's requests from anyone but the peer
    // (a guessed id) does not move the session.
    const std::string from = attribute_or_empty(answer, "from");
    if (!from.empty() && bare_jid(from) == bare_jid(s->peer_jid)) {
        s->peer_jid = from;
        s->responder = from;
    }
    if (!initiate)
        return;
    // Under way: an ICE-UDP content offers its candidates one by one.
    for (const JingleContent& c : s->local_contents) {
        if (c.transport_kind != kTransportIceUdp)
            continue;
        for (const IceCandidate& candidate : c.ice.local) {
            XmlNode* jingle = nullptr;
            auto iq = request(*s, "transport-info", &jingle);
            XmlNode* content = jingle->add_child("content");
            content->add_attribute("creator", s->initiator);
            content->add_attribute("name", c.name);
            content->add_attribute("profile", c.profile);
            write_candidate(*content, candidate);
            send_request(s, std::move(iq), false);
        }
    }
}

void JingleManager::on_iq(const XmlNode& iq)
{
    const std::string* from = iq.attribute_value("from");
    const XmlNode* jingle = iq.find_element("jingle");
    if (!from || !jingle)
        return;
    if (const std::string* sid = jingle->attribute_value("sid")) {
        bool known_sid = false;
        for (const Session& s : sessions_) {
            if (s->sid != *sid)
                continue;
            known_sid = true;
            // Anyone may learn a sid: only the peer acts on the session.
            if (bare_jid(*from) == bare_jid(s->peer_jid)) {
                dispatch(Session(s), iq, *jingle);
                return;
            }
        }
        if (known_sid) {
            send_error(iq, context_.full_jid(), kUnknownSession);
            return;
        }
    }
    const std::string* action = jingle->attribute_value("action");
    if (!action)
        return;
    if (*action != "session-initiate") {
        send_error(iq, context_.full_jid(), kUnknownSession);
        return;
    }
    const XmlNode* content = first_child(*jingle, "content");
    if (!content) {
        send_error(iq, context_.full_jid(), kBadRequest);
        return;
    }
    const XmlNode* description = content->find_element("description");
    const std::string ns = description ? attribute_or_empty(*description, "xmlns") : "";
    JingleSession::Application application;
    if (ns == jingle_ns::kAudioRtp)
        application = JingleSession::kAudio;
    else if (ns == jingle_ns::kFileTransfer)
        application = JingleSession::kFileTransfer;
    else
        return;
    const bool over_limit = sessions_.size() >= kMaxSessions;
    auto session = std::make_shared<JingleSession>(application);
    sessions_.push_back(session);
    on_initiate(session, iq, *jingle, over_limit);
}

void JingleManager::on_initiate(const Session& session, const XmlNode& iq, const XmlNode& jingle,
                                bool over_limit)
{
    JingleSession& s = *session;
    s.peer_jid = attribute_or_empty(iq, "from");
    s.own_jid = context_.full_jid();
    s.responder = s.own_jid;
    const std::string* initiator = jingle.attribute_value("initiator");
    s.initiator = initiator ? *initiator : s.peer_jid;
    bool parsed = false;
    if (const std::string* sid = jingle.attribute_value("sid")) {
        s.sid = *sid;
        s.state = JingleSession::kPending;
        parsed = true;
        for (const auto& child : jingle.children) {
            if (child->name != "content")
                continue;
            std::optional<JingleContent> content = read_offered_content(*child);
            if (!content) {
                send_error(iq, s.own_jid, kUnsupportedInfo);
                parsed = false;
                break;
            }
            s.remote_contents.push_back(std::move(*content));
        }
        if (parsed && s.remote_contents.empty()) {
            send_request(session, terminate_request(s, kConditionUnsupportedApplications, ""),
                         false);
            remove(&s);
        }
    } else {
        send_error(iq, s.own_jid, kBadRequest);
    }
    acknowledge(s, iq);
    if (!listed(&s))
        return;
    if (s.remote_contents.empty()) {
        // Refused above, with nothing to offer to anyone: no one would end it.
        remove(&s);
        return;
    }
    // Nothing here carries out a file transfer; a caller beyond the limit is busy.
    if (s.application != JingleSession::kAudio || over_limit) {
        remove(&s);
        send_request(session,
                     terminate_request(
                         s, over_limit ? kConditionBusy : kConditionUnsupportedApplications, ""),
                     false);
        return;
    }
    raise(kEventIncomingCall, session);
}

void JingleManager::dispatch(const Session& session, const XmlNode& iq, const XmlNode& jingle)
{
    JingleSession& s = *session;
    const std::string* action_attr = jingle.attribute_value("action");
    if (!action_attr) {
        send_error(iq, s.own_jid, kBadRequest);
        return;
    }
    const std::string& action = *action_attr;
    const bool audio = s.application == JingleSession::kAudio;
    if (action == "session-accept") {
        if (s.state != JingleSession::kPending) {
            send_error(iq, s.own_jid, kOutOfOrder);
            return;
        }
        acknowledge(s, iq);
        s.state = JingleSession::kActive;
        if (!audio)
            return;
        if (const XmlNode* content = first_child(jingle, "content"))
            s.remote_contents.push_back(read_accepted_content(*content, s.transport_kind));
        raise(kEventCallAccepted, session);
    } else if (action == "session-info") {
        acknowledge(s, iq);
        if (!audio)
            return;
        // "active", "hold" and "mute" change nothing.
        for (const auto& child : jingle.children)
            if (child->name == "ringing")
                raise(kEventPeerRinging, session);
    } else if (action == "transport-info") {
        acknowledge(s, iq);
        if (audio)
            on_transport_info(s, jingle);
    } else if (action == "content-accept" || action == "content-modify" ||
               action == "content-remove" || action == "content-replace") {
        acknowledge(s, iq);
    } else if (action == "content-add") {
        if (s.state != JingleSession::kActive) {
            send_error(iq, s.own_jid, kOutOfOrder);
            return;
        }
        acknowledge(s, iq);
    } else if (action == "session-terminate") {
        acknowledge(s, iq);
        remove(&s);
        if (!audio)
            return;
        const XmlNode* condition = jingle.find_element("condition");
        if (condition && !condition->children.empty())
            s.reason = condition->children.front()->name;
        raise(kEventCallEnded, session);
    } else {
        send_error(iq, s.own_jid, kBadRequest);
    }
}

void JingleManager::on_transport_info(JingleSession& s, const XmlNode& jingle)
{
    const XmlNode* content = first_child(jingle, "content");
    if (!content)
        return;
    const std::string name = attribute_or_empty(*content, "name");
    // Our own transport-info carries the candidate directly in the content.
    const XmlNode* node = jingle.find_element("transport");
    if (node) {
        if (const XmlNode* inner = node->find_element("candidate"))
            node = inner;
    } else {
        node = jingle.find_element("candidate");
    }
    if (!node)
        return;
    for (JingleContent& c : s.remote_contents) {
        if (c.name != name || c.transport_kind != kTransportIceUdp)
            continue;
        auto candidate = std::make_shared<const IceCandidate>(read_candidate(*node));
        if (c.ice.remote.size() < kMaxCandidates)
            c.ice.remote.push_back(*candidate);
        JabberEvent event;
        event.sid = s.sid;
        event.candidate = std::move(candidate);
        context_.raise(kEventIceCandidate, &event);
    }
}

} // namespace vokar
