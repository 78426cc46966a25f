#include "xmpp/jabber_client.h"

#include <cstdlib>

#include "base/base64.h"
#include "base/random.h"
#include "base/scan_string.h"
#include "xmpp/sasl_digest.h"

namespace vokar {
namespace {

std::string attr(const XmlNode& node, std::string_view name)
{
    return attribute_or_empty(node, name);
}

const XmlNode* find(const XmlNode& node, std::string_view name)
{
    return node.find_element(name);
}

} // namespace

// Every public operation runs inside the guard: once the client is closing,
// operations return at once, and the destructor waits for those inside.
class JabberClient::CallGuard {
public:
    explicit CallGuard(JabberClient& c) : client_(c)
    {
        std::lock_guard lock(c.guard_mutex_);
        entered_ = !c.closing_;
        if (entered_)
            ++c.calls_;
    }
    ~CallGuard()
    {
        if (!entered_)
            return;
        std::lock_guard lock(client_.guard_mutex_);
        if (--client_.calls_ == 0)
            client_.guard_cv_.notify_all();
    }
    explicit operator bool() const { return entered_; }

private:
    JabberClient& client_;
    bool entered_ = false;
};

template <typename Operation> void JabberClient::guarded(Operation&& operation)
{
    CallGuard guard(*this);
    if (guard)
        operation();
}

JabberClient::JabberClient(std::string domain, std::string os, std::string version,
                           Reactor& reactor, Options options)
    : options_(std::move(options)), tagline_("( " + options_.web_host_name + " - talk for free )"),
      service_domain_(domain), domain_(domain), presence_(*this, gateways_, tagline_),
      gateways_(*this, presence_, service_domain_), chat_(*this, gateways_),
      services_(*this, std::move(os), std::move(version)),
      receiver_mutex_(platform::NamedMutex::unique_name("VOKAR_JABBER_CONTROLLER_MUTEX")),
      jingle_(*this, receiver_mutex_,
              [this](const std::string& bare) { return presence_.shown_resource(bare); }),
      keep_alive_(reactor, this, static_cast<int32_t>(kKeepAliveUs)), login_deadline_ticks_(*this),
      login_deadline_(reactor, &login_deadline_ticks_, static_cast<int32_t>(kLoginDeadlineUs))
{
    counter_ = options_.first_id ? *options_.first_id : random_number() % 100000;
    resource_ =
        options_.resource ? *options_.resource : "Vokar_WM_J_" + std::to_string(random_number());
}

JabberClient::~JabberClient()
{
    {
        std::unique_lock lock(guard_mutex_);
        closing_ = true;
        guard_cv_.wait(lock, [this] { return calls_ == 0; });
    }
    keep_alive_.stop();
    login_deadline_.stop();
    std::shared_ptr<ConnectionInterface> connection;
    {
        std::lock_guard lock(connection_mutex_);
        connection = std::move(connection_);
    }
    if (connection) {
        connection->clearListener(this);
        connection.reset(); // the last owner: closes and waits for its receive thread
    }
}

void JabberClient::addListener(JabberListener* listener)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    std::lock_guard lock(listeners_mutex_);
    listeners_.push_back(listener);
}

void JabberClient::raise(int code, const JabberEvent* event)
{
    if (receiving_thread_.load() == std::this_thread::get_id()) {
        deferred_.push_back({code, event != nullptr, event ? *event : JabberEvent{}});
        return;
    }
    raise_now(code, event);
}

void JabberClient::raise_now(int code, const JabberEvent* event)
{
    std::vector<JabberListener*> listeners;
    {
        std::lock_guard lock(listeners_mutex_);
        listeners = listeners_;
    }
    for (JabberListener* l : listeners)
        l->onJabberEvent(code, event);
    if (code == kEventAuthentication && event && event->result == kAuthenticationSucceeded)
        keep_alive_.start();
}

std::string JabberClient::domain()
{
    std::lock_guard lock(state_mutex_);
    return domain_;
}

std::string JabberClient::full_jid()
{
    std::lock_guard lock(state_mutex_);
    return full_jid_;
}

std::string JabberClient::next_id()
{
    std::lock_guard lock(state_mutex_);
    return std::to_string(++counter_);
}

std::shared_ptr<ConnectionInterface> JabberClient::connection()
{
    std::lock_guard lock(connection_mutex_);
    return connection_;
}

void JabberClient::send_text(const std::string& text)
{
    if (const auto c = connection())
        c->send(text);
}

void JabberClient::send(const XmlNode& stanza)
{
    send_text(stanza.serialize());
}

void JabberClient::send_request(XmlNode& iq, std::function<void(const XmlNode&)> on_result)
{
    {
        std::lock_guard lock(state_mutex_);
        pending_.push_back({attr(iq, "id"), std::move(on_result)});
    }
    send(iq);
}

bool JabberClient::connect(std::unique_ptr<ConnectionInterface> connection, const std::string& host,
                           uint16_t port, uint16_t local_port)
{
    CallGuard guard(*this);
    if (!guard)
        return false;
    std::shared_ptr<ConnectionInterface> c = std::move(connection);
    {
        std::lock_guard lock(connection_mutex_);
        connection_ = c;
    }
    login_deadline_.start();
    c->setListener(this);
    c->open(local_port, port, host, true);
    return true;
}

bool JabberClient::login(const std::string& user, const std::string& password)
{
    CallGuard guard(*this);
    if (!guard || !connected_)
        return false;
    {
        std::lock_guard lock(state_mutex_);
        user_ = user;
        password_ = password;
        bare_jid_ = user + "@" + domain_;
        full_jid_ = bare_jid_ + "/" + resource_;
    }
    open_stream();
    return true;
}

void JabberClient::open_stream()
{
    XmlNode stream("stream", nullptr, "stream");
    stream.open_only = true;
    stream.add_attribute("to", domain());
    stream.add_attribute("xmlns", "jabber:client");
    stream.add_attribute("stream", JabberClient::kStreamsNamespace, "xmlns");
    stream.add_attribute("version", "1.0");
    send(stream);
}

void JabberClient::logout()
{
    CallGuard guard(*this);
    if (!guard)
        return;
    send_text("</stream>");
    // Closing waits for the receive thread, which may itself be sending or
    // waiting on the caller's thread: no lock is held across it.
    if (const auto c = connection())
        c->close();
}

void JabberClient::onTimer()
{
    CallGuard guard(*this);
    if (!guard)
        return;
    // The reactor thread must never wait on a socket: a keep-alive that
    // cannot leave at once is skipped, since a busy stream needs none.
    if (const auto c = connection())
        c->trySend(" ");
    if (stream_stalled())
        break_stream(nullptr);
}

bool JabberClient::stream_stalled()
{
    const uint64_t received = received_bytes_;
    const bool partial = partial_stanza_;
    const bool stalled = partial && partial_at_tick_ && received == received_at_tick_;
    partial_at_tick_ = partial;
    received_at_tick_ = received;
    return stalled;
}

void JabberClient::on_login_deadline()
{
    CallGuard guard(*this);
    if (!guard)
        return;
    login_deadline_.stop();
    int pending = kLoginPending;
    if (!login_state_.compare_exchange_strong(pending, kLoginTimedOut))
        return;
    JabberEvent event;
    event.result = kTimedOut;
    break_stream(&event);
}

bool JabberClient::login_in_time()
{
    int pending = kLoginPending;
    return login_state_.compare_exchange_strong(pending, kLoginOver) || pending == kLoginOver;
}

void JabberClient::break_stream(const JabberEvent* event)
{
    if (broken_.exchange(true))
        return;
    if (const auto c = connection())
        c->close();
    connected_ = false;
    raise(kEventDisconnected, event);
}

void JabberClient::onConnectResult(int status)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    if (status == 0) {
        connected_ = true;
        raise(kEventConnected, nullptr);
        return;
    }
    connected_ = false;
    if (!broken_.exchange(true))
        raise(kEventDisconnected, nullptr);
}

void JabberClient::onReceive(const std::string& message)
{
    CallGuard guard(*this);
    if (!guard || broken_)
        return;
    std::vector<DeferredEvent> events;
    {
        std::lock_guard hold(receiver_mutex_);
        receiving_thread_ = std::this_thread::get_id();
        receive(message);
        receiving_thread_ = std::thread::id();
        events.swap(deferred_);
    }
    for (const DeferredEvent& e : events)
        raise_now(e.code, e.has_payload ? &e.event : nullptr);
}

void JabberClient::receive(const std::string& message)
{
    received_bytes_ += message.size();
    partial_stanza_ = false; // no stall while this chunk is handled
    for (char c : message) {
        if (!document_) {
            document_ = XmlNode::new_document();
            stanza_started_ = false;
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            stanza_started_ = true;
        const auto state = document_->feed(c);
        if (state == XmlNode::FeedResult::Incomplete)
            continue;
        if (state == XmlNode::FeedResult::Failed) {
            // A stanza beyond the parser's limits: the stream cannot be trusted.
            document_.reset();
            presence_.flush_batch();
            break_stream(nullptr);
            return;
        }
        std::unique_ptr<XmlNode> complete = std::move(document_);
        if (!complete->children.empty())
            dispatch(*complete->children.front());
        if (broken_)
            return;
    }
    partial_stanza_ = document_ && stanza_started_;
    presence_.flush_batch();
}

void JabberClient::dispatch(const XmlNode& e)
{
    const std::string& name = e.name;
    if (name == "?xml") {
        if (!authenticated_) {
            if (const XmlNode* stream = find(e, "stream")) {
                if (const std::string* from = stream->attribute_value("from")) {
                    std::lock_guard lock(state_mutex_);
                    domain_ = *from;
                }
            }
        } else {
            bind();
        }
        for (const auto& c : e.children)
            dispatch(*c);
    } else if (name == "stream") {
        for (const auto& c : e.children)
            dispatch(*c);
    } else if (name == "features") {
        on_features(e);
    } else if (name == "challenge") {
        on_challenge(e);
    } else if (name == "success") {
        if (!login_in_time())
            return;
        authenticated_ = true;
        JabberEvent event;
        event.result = kAuthenticationSucceeded;
        raise(kEventAuthentication, &event);
        open_stream();
    } else if (name == "iq") {
        on_iq(e);
    } else if (name == "message") {
        chat_.on_message(e);
    } else if (name == "presence") {
        presence_.on_presence(e);
    } else if (name == "failure") {
        if (!login_in_time())
            return;
        JabberEvent event;
        event.result = kAuthenticationFailed;
        raise(kEventAuthentication, &event);
    }
}

void JabberClient::on_features(const XmlNode& features)
{
    if (features.children.empty() || features.children.front()->name != "mechanisms")
        return;
    for (const auto& m : features.children.front()->children) {
        if (m->name == "mechanism" && m->text == "DIGEST-MD5") {
            send_text(std::string(sasl::kAuth));
            return;
        }
    }
}

void JabberClient::on_challenge(const XmlNode& challenge)
{
    const std::string decoded = base64_decode(challenge.text);
    if (decoded.find("rspauth") != std::string::npos) {
        send_text(std::string(sasl::kEmptyResponse));
        return;
    }
    std::string user, password, domain;
    {
        std::lock_guard lock(state_mutex_);
        user = user_;
        password = password_;
        domain = domain_;
    }
    const std::string cnonce = std::to_string(random_number());
    XmlNode response("response");
    response.add_attribute("xmlns", std::string(sasl::kNamespace));
    response.text = base64_encode(sasl::response_text(decoded, user, password, cnonce, domain));
    send(response);
}

void JabberClient::bind()
{
    auto iq = new_iq({{"type", "set"}});
    XmlNode* b = iq->add_child("bind");
    b->add_attribute("xmlns", "urn:ietf:params:xml:ns:xmpp-bind");
    b->add_child("resource")->text = resource_;
    send_request(*iq, [this](const XmlNode&) { start_session(); });
}

void JabberClient::start_session()
{
    auto iq = new_iq({{"type", "set"}});
    iq->add_child("session")->add_attribute("xmlns", "urn:ietf:params:xml:ns:xmpp-session");
    send_request(*iq, [this](const XmlNode&) {
        presence_.start_session();
        in_session_ = true;
        presence_.send_presence("");
        services_.send_version_check();
        gateways_.discover();
    });
}

void JabberClient::on_iq(const XmlNode& iq)
{
    const std::string* id = iq.attribute_value("id");
    if (!id)
        return;
    std::optional<PendingRequest> request;
    {
        std::lock_guard lock(state_mutex_);
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->id == *id) {
                request = std::move(*it);
                pending_.erase(it);
                break;
            }
        }
    }
    if (request) {
        if (request->on_result)
            request->on_result(iq);
        return;
    }
    const XmlNode* query = find(iq, "query");
    if (iq.attribute_value("type") && query) {
        const std::string xmlns = attr(*query, "xmlns");
        if (xmlns == GatewayHandler::kDiscoInfo && attr(iq, "type") == "get")
            answer_disco_info(iq);
        else if (xmlns == "jabber:iq:roster")
            presence_.on_roster(iq);
    } else if (iq.find_element("jingle")) {
        // Answers are never answered: one that nobody waited for is dropped.
        const std::string type = attr(iq, "type");
        if (type != "result" && type != "error")
            jingle_.on_iq(iq);
    }
}

void JabberClient::answer_disco_info(const XmlNode& request)
{
    static constexpr const char* kFeatures[] = {
        "urn:xmpp:tmp:jingle",
        "http://www.xmpp.org/extensions/xep-0166.html#ns",
        "urn:xmpp:tmp:jingle:apps:audio-rtp",
        "http://www.xmpp.org/extensions/xep-0167.html#ns",
        "urn:xmpp:tmp:jingle:transports:ice-udp",
        "http://www.xmpp.org/extensions/xep-0176.html#ns",
        "urn:xmpp:tmp:jingle:apps:file-transfer",
        "http://www.xmpp.org/extensions/xep-0234.html#ns",
        "urn:xmpp:tmp:jingle:transports:ibb",
        "http://www.xmpp.org/extensions/xep-0047.html#ns",
    };
    XmlNode iq("iq");
    iq.add_attribute("id", attr(request, "id"));
    iq.add_attribute("from", full_jid());
    iq.add_attribute("to", attr(request, "from"));
    iq.add_attribute("type", "result");
    XmlNode* q = iq.add_child("query");
    q->add_attribute("xmlns", GatewayHandler::kDiscoInfo);
    for (const char* var : kFeatures)
        q->add_child("feature")->add_attribute("var", var);
    send(iq);
}

// ---- the feature operations

void JabberClient::addContact(int network, const std::string& jid, const std::string& name,
                              const std::string& group)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    switch (network) {
    case kNetworkPlain:
    case kNetworkJabber:
        presence_.plain_add(jid, name, group);
        return;
    case kNetworkService:
        presence_.plain_add(jid.find('@') == std::string::npos ? jid + "@" + service_domain_ : jid,
                            name, group);
        return;
    case kNetworkGtalk: {
        const std::string address =
            jid.find('@') == std::string::npos ? jid + "@" + options_.gtalk_mail_domain : jid;
        if (gateways_.registered(kNetworkGtalk))
            gateways_.translate(kNetworkGtalk, address);
        else
            presence_.plain_add(address, name, group);
        return;
    }
    default:
        gateways_.translate(network, jid);
        return;
    }
}

void JabberClient::acceptContact(const std::string& jid, const std::string& name,
                                 const std::string& group)
{
    guarded([&] { presence_.accept(jid, name, group); });
}

void JabberClient::renameContact(const std::string& jid, const std::string& name)
{
    guarded([&] { presence_.rename(jid, name); });
}

void JabberClient::removeContact(const std::string& jid)
{
    guarded([&] { presence_.remove(jid); });
}

void JabberClient::rejectContact(const std::string& jid)
{
    guarded([&] { presence_.reject(jid); });
}

void JabberClient::setStatus(int status)
{
    guarded([&] { presence_.set_status(status); });
}

void JabberClient::setStatusText(const std::string& text)
{
    guarded([&] { presence_.set_status_text(text); });
}

bool JabberClient::isRosterLoaded()
{
    return presence_.roster_loaded();
}

void JabberClient::sendMessage(const std::string& to, const std::string& body)
{
    guarded([&] { chat_.send_message(to, body); });
}

bool JabberClient::isGatewayRegistered(int network)
{
    return gateways_.registered(network);
}

void JabberClient::registerGateway(int network, const std::string& user,
                                   const std::string& password)
{
    guarded([&] { gateways_.register_user(network, user, password); });
}

void JabberClient::unregisterGateway(int network)
{
    guarded([&] { gateways_.unregister_user(network); });
}

void JabberClient::sendHoller(const std::string& to)
{
    guarded([&] { services_.send_holler(to); });
}

void JabberClient::retrieveHollers()
{
    guarded([&] { services_.retrieve_hollers(); });
}

void JabberClient::setHollerAllowed(bool allowed)
{
    guarded([&] { services_.set_holler_allowed(allowed); });
}

void JabberClient::registerCodec(const PayloadType& codec)
{
    guarded([&] { jingle_.register_codec(codec); });
}

std::shared_ptr<JingleSession>
JabberClient::startCall(const std::string& peer, const std::vector<TransportAddress>& addresses,
                        int transport_kind)
{
    CallGuard guard(*this);
    return guard ? jingle_.start_call(peer, addresses, transport_kind) : nullptr;
}

void JabberClient::sendRinging(const std::shared_ptr<JingleSession>& session)
{
    guarded([&] { jingle_.send_ringing(session); });
}

void JabberClient::accept(const std::shared_ptr<JingleSession>& session)
{
    guarded([&] { jingle_.accept(session); });
}

void JabberClient::setLocalAddresses(const std::shared_ptr<JingleSession>& session,
                                     const std::vector<TransportAddress>& addresses)
{
    guarded([&] { jingle_.set_local_addresses(session, addresses); });
}

void JabberClient::terminate(const std::shared_ptr<JingleSession>& session, int condition,
                             const std::string& alternative_sid)
{
    guarded([&] { jingle_.terminate(session, condition, alternative_sid); });
}

std::vector<int32_t> JabberClient::payloadIds(const std::shared_ptr<JingleSession>& session)
{
    CallGuard guard(*this);
    return guard ? jingle_.payload_ids(session) : std::vector<int32_t>();
}

MediaEndpoints JabberClient::mediaEndpoints(const std::shared_ptr<JingleSession>& session)
{
    CallGuard guard(*this);
    return guard ? jingle_.media_endpoints(session) : MediaEndpoints();
}

size_t JabberClient::sessionCount()
{
    return jingle_.session_count();
}

} // namespace vokar
