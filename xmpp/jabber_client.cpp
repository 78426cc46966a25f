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
    const std::string* v = node.attribute_value(name);
    return v ? *v : std::string();
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

JabberClient::JabberClient(std::string domain, std::string os, std::string version,
                           Reactor& reactor, Options options)
    : os_(std::move(os)), version_(std::move(version)), options_(std::move(options)),
      tagline_("( " + options_.web_host_name + " - talk for free )"), domain_(domain),
      service_domain_(domain), transports_(domain),
      receiver_mutex_(platform::NamedMutex::unique_name("VOKAR_JABBER_CONTROLLER_MUTEX")),
      keep_alive_(reactor, this, static_cast<int32_t>(kKeepAliveUs))
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
    std::unique_ptr<ConnectionInterface> connection;
    {
        std::lock_guard lock(connection_mutex_);
        connection = std::move(connection_);
    }
    if (connection) {
        connection->clearListener(this);
        connection.reset(); // closes and waits for its receive thread
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
    std::vector<JabberListener*> listeners;
    {
        std::lock_guard lock(listeners_mutex_);
        listeners = listeners_;
    }
    for (JabberListener* l : listeners)
        l->onJabberEvent(code, event);
    if (code == kEventAuthentication && event && event->result == 0)
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

std::unique_ptr<XmlNode>
JabberClient::new_iq(std::initializer_list<std::pair<const char*, std::string>> attributes)
{
    auto iq = std::make_unique<XmlNode>("iq");
    iq->add_attribute("id", next_id());
    for (const auto& [name, value] : attributes)
        iq->add_attribute(name, value);
    return iq;
}

std::string JabberClient::transport_jid(int network)
{
    std::lock_guard lock(state_mutex_);
    return transports_.jid_of(network);
}

std::string JabberClient::next_id()
{
    std::lock_guard lock(state_mutex_);
    return std::to_string(++counter_);
}

void JabberClient::send_text(const std::string& text)
{
    std::lock_guard lock(connection_mutex_);
    if (connection_)
        connection_->send(text);
}

void JabberClient::send_tree(const XmlNode& stanza)
{
    send_text(stanza.serialize());
}

void JabberClient::send_request(XmlNode& iq, std::function<void(const XmlNode&)> on_result)
{
    {
        std::lock_guard lock(state_mutex_);
        pending_.push_back({attr(iq, "id"), std::move(on_result)});
    }
    send_tree(iq);
}

bool JabberClient::connect(std::unique_ptr<ConnectionInterface> connection, const std::string& host,
                           uint16_t port, uint16_t local_port)
{
    CallGuard guard(*this);
    if (!guard)
        return false;
    ConnectionInterface* c;
    {
        std::lock_guard lock(connection_mutex_);
        connection_ = std::move(connection);
        c = connection_.get();
    }
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
    stream.add_attribute("stream", kStreamsNamespace, "xmlns");
    stream.add_attribute("version", "1.0");
    send_tree(stream);
}

void JabberClient::logout()
{
    CallGuard guard(*this);
    if (!guard)
        return;
    send_text("</stream>");
    std::lock_guard lock(connection_mutex_);
    if (connection_)
        connection_->close();
}

void JabberClient::onTimer()
{
    send_text(" ");
}

void JabberClient::onConnectResult(int status)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    connected_ = status == 0;
    raise(status == 0 ? kEventConnected : kEventDisconnected, nullptr);
}

void JabberClient::onReceive(const std::string& message)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    std::lock_guard hold(receiver_mutex_);
    for (char c : message) {
        if (!document_)
            document_ = XmlNode::new_document();
        const auto state = document_->feed(c);
        if (state == XmlNode::FeedResult::Incomplete)
            continue;
        if (state == XmlNode::FeedResult::Failed) {
            // A stanza beyond the parser's limits: the stream cannot be trusted.
            document_.reset();
            flush_presence_batch();
            std::lock_guard lock(connection_mutex_);
            if (connection_)
                connection_->close();
            connected_ = false;
            raise(kEventDisconnected, nullptr);
            return;
        }
        std::unique_ptr<XmlNode> complete = std::move(document_);
        if (!complete->children.empty())
            dispatch(*complete->children.front());
    }
    flush_presence_batch();
}

void JabberClient::flush_presence_batch()
{
    if (presence_batch_.updates.empty())
        return;
    JabberEvent batch;
    std::swap(batch, presence_batch_);
    raise(kEventPresence, &batch);
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
        authenticated_ = true;
        JabberEvent event;
        event.result = 0;
        raise(kEventAuthentication, &event);
        open_stream();
    } else if (name == "iq") {
        on_iq(e);
    } else if (name == "message") {
        on_message(e);
    } else if (name == "presence") {
        on_presence(e);
    } else if (name == "failure") {
        JabberEvent event;
        event.result = 1;
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
    send_tree(response);
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
        send_roster_get();
        {
            std::lock_guard lock(state_mutex_);
            status_ = kStatusAvailable;
        }
        in_session_ = true;
        send_presence("");
        send_version_check();
        send_disco_items();
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
        if (xmlns == kDiscoInfo && attr(iq, "type") == "get")
            answer_disco_info(iq);
        else if (xmlns == "jabber:iq:roster")
            on_roster(iq);
    }
    // Jingle requests are handled by the call signalling, which arrives later.
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
    q->add_attribute("xmlns", kDiscoInfo);
    for (const char* var : kFeatures)
        q->add_child("feature")->add_attribute("var", var);
    send_tree(iq);
}

// ---- roster and presence

void JabberClient::send_roster_get()
{
    auto iq = new_iq({{"type", "get"}});
    iq->add_child("query")->add_attribute("xmlns", "jabber:iq:roster");
    send_request(*iq, [this](const XmlNode& answer) { on_roster(answer); });
}

void JabberClient::on_roster(const XmlNode& iq)
{
    const XmlNode* query = find(iq, "query");
    if (!query || !iq.attribute_value("type"))
        return;
    JabberEvent batch;
    bool first_load = false;
    {
        std::lock_guard lock(state_mutex_);
        for (const auto& item : query->children) {
            if (item->name != "item")
                continue;
            const XmlNode* group = find(*item, "group");
            if (group && group->text == "Transports")
                continue;
            const std::string* jid_attr = item->attribute_value("jid");
            if (!jid_attr)
                continue;
            const std::string jid = bare_jid(*jid_attr);
            const std::string* subscription = item->attribute_value("subscription");
            const std::string ask = attr(*item, "ask");
            if (RosterContact* contact = roster_.find(jid)) {
                if (subscription) {
                    contact->subscription = *subscription;
                    contact->ask = ask;
                }
            } else if (!subscription || *subscription != "remove") {
                roster_.add({jid, subscription ? *subscription : std::string(), ask, {}});
            }
            PresenceUpdate update;
            update.jid = jid;
            update.status = kStatusOffline;
            const std::string* name = item->attribute_value("name");
            update.name = name ? *name : jid;
            update.in_roster = true;
            const std::string sub = subscription ? *subscription : std::string();
            if (sub == "none") {
                if (ask == "unsubscribe")
                    continue;
                update.status = kStatusRequested;
            } else if (sub == "from") {
                if (ask == "unsubscribe")
                    continue;
            } else if (sub == "remove") {
                update.removed = true;
                roster_.remove(jid);
            }
            batch.updates.push_back(std::move(update));
        }
        if (!roster_.loaded()) {
            roster_.set_loaded();
            first_load = true;
        }
    }
    if (first_load)
        raise(kEventRosterLoaded, nullptr);
    raise(kEventPresence, &batch);
}

void JabberClient::on_presence(const XmlNode& presence)
{
    const std::string* from = presence.attribute_value("from");
    if (!from)
        return;
    const std::string jid = bare_jid(*from);
    const std::string resource = jid_resource(*from);
    const std::string type = attr(presence, "type");
    int transport_network;
    {
        std::lock_guard lock(state_mutex_);
        transport_network = transports_.network_of(jid);
    }
    if (transport_network != -1) {
        JabberEvent event;
        event.network = transport_network;
        raise(kEventTransport, &event);
        return;
    }
    if (type == "unavailable") {
        PresenceUpdate update;
        update.jid = jid;
        {
            std::lock_guard lock(state_mutex_);
            RosterContact* contact = roster_.find(jid);
            if (contact && !resource.empty())
                contact->remove_resource(resource);
            update.status = contact ? contact->shown_status() : kStatusOffline;
            update.status_text = contact ? contact->shown_text() : std::string();
        }
        // Earlier presences of this chunk go first: raised after this one,
        // they would show a contact that just left as still online.
        flush_presence_batch();
        JabberEvent event;
        event.updates.push_back(std::move(update));
        raise(kEventPresence, &event);
        return;
    }
    if (type == "subscribe") {
        bool known = false;
        {
            std::lock_guard lock(state_mutex_);
            const RosterContact* contact = roster_.find(jid);
            known = contact && (contact->subscription == "to" || contact->ask == "subscribe");
        }
        if (known) {
            send_subscription(*from, "subscribed");
        } else {
            JabberEvent event;
            PresenceUpdate update;
            update.jid = jid;
            update.status = kStatusPending;
            event.updates.push_back(std::move(update));
            flush_presence_batch();
            raise(kEventPresence, &event);
        }
        return;
    }
    if (!type.empty())
        return;

    std::string text;
    if (const XmlNode* status = find(presence, "status"))
        text = status->text;
    const auto tag = text.find(tagline_);
    if (tag != std::string::npos && tag > 0)
        text.resize(tag);
    int code = kStatusAvailable;
    if (const XmlNode* show = find(presence, "show"))
        code = status_from_show(show->text);

    PresenceUpdate update;
    update.jid = jid;
    update.status = code;
    update.status_text = text;
    {
        std::lock_guard lock(state_mutex_);
        RosterContact* contact = roster_.find(jid);
        if (contact && !resource.empty()) {
            const size_t rank = contact->update_resource(resource, code, text);
            if (rank != 0) {
                update.status = contact->shown_status();
                update.status_text = contact->shown_text();
            }
        }
    }
    presence_batch_.updates.push_back(std::move(update));
}

void JabberClient::send_presence(const std::string& to)
{
    int status;
    std::string text;
    {
        std::lock_guard lock(state_mutex_);
        status = status_;
        text = status_text_;
    }
    XmlNode p("presence");
    p.add_attribute("id", next_id());
    if (!to.empty())
        p.add_attribute("to", to);
    p.add_child("status")->text = text.empty() ? tagline_ : text + " " + tagline_;
    if (status == kStatusAway)
        p.add_child("show")->text = "away";
    else if (status == kStatusBusy)
        p.add_child("show")->text = "dnd";
    send_tree(p);
}

void JabberClient::send_subscription(const std::string& to, const char* type)
{
    XmlNode p("presence");
    p.add_attribute("id", next_id());
    p.add_attribute("to", to);
    p.add_attribute("type", type);
    send_tree(p);
}

void JabberClient::roster_set(const std::string& jid, const std::string& name,
                              const std::string& group, bool remove)
{
    auto iq = new_iq({{"type", "set"}});
    XmlNode* query = iq->add_child("query");
    query->add_attribute("xmlns", "jabber:iq:roster");
    XmlNode* item = query->add_child("item");
    item->add_attribute("jid", jid);
    if (remove) {
        item->add_attribute("subscription", "remove");
    } else {
        if (!name.empty())
            item->add_attribute("name", name);
        if (!group.empty())
            item->add_child("group")->text = group;
    }
    send_request(*iq, nullptr);
}

void JabberClient::plain_add(const std::string& jid, const std::string& name,
                             const std::string& group)
{
    roster_set(jid, name, group, false);
    send_subscription(jid, "subscribe");
}

void JabberClient::addContact(int network, const std::string& jid, const std::string& name,
                              const std::string& group)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    switch (network) {
    case kNetworkPlain:
    case kNetworkJabber:
        plain_add(jid, name, group);
        return;
    case kNetworkService:
        plain_add(jid.find('@') == std::string::npos ? jid + "@" + service_domain_ : jid, name,
                  group);
        return;
    case kNetworkGtalk: {
        const std::string address =
            jid.find('@') == std::string::npos ? jid + "@" + options_.gtalk_mail_domain : jid;
        if (isGatewayRegistered(kNetworkGtalk))
            translate(kNetworkGtalk, address);
        else
            plain_add(address, name, group);
        return;
    }
    default:
        translate(network, jid);
        return;
    }
}

void JabberClient::acceptContact(const std::string& jid, const std::string& name,
                                 const std::string& group)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    send_subscription(jid, "subscribed");
    roster_set(jid, name, group, false);
    send_subscription(jid, "subscribe");
}

void JabberClient::renameContact(const std::string& jid, const std::string& name)
{
    CallGuard guard(*this);
    if (guard)
        roster_set(jid, name, "", false);
}

void JabberClient::removeContact(const std::string& jid)
{
    CallGuard guard(*this);
    if (guard)
        roster_set(jid, "", "", true);
}

void JabberClient::setStatus(int status)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    std::vector<std::string> registered;
    {
        std::lock_guard lock(state_mutex_);
        status_ = status;
        for (const auto& t : transports_.entries())
            if (t.registered)
                registered.push_back(t.jid);
    }
    // From SASL success until the session starts the stream is restarted
    // and bound, and a server takes no presence (a conforming one closes
    // the connection). The session's initial presence carries what is
    // stored now.
    if (authenticated_ && !in_session_)
        return;
    send_presence("");
    for (const auto& jid : registered)
        send_presence(jid);
}

void JabberClient::setStatusText(const std::string& text)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    int status;
    {
        std::lock_guard lock(state_mutex_);
        status_text_ = text;
        status = status_;
    }
    setStatus(status);
}

bool JabberClient::isRosterLoaded()
{
    std::lock_guard lock(state_mutex_);
    return roster_.loaded();
}

// ---- chat

void JabberClient::sendMessage(const std::string& to, const std::string& body)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    XmlNode m("message");
    m.add_attribute("id", next_id());
    m.add_attribute("to", to);
    m.add_attribute("type", "chat");
    m.add_child("body")->text = body;
    XmlNode* x = m.add_child("x");
    x->add_attribute("xmlns", "jabber:x:event");
    x->add_child("composing");
    m.add_child("active")->add_attribute("xmlns", kChatStates);
    send_tree(m);
}

void JabberClient::on_message(const XmlNode& m)
{
    const std::string* from = m.attribute_value("from");
    const XmlNode* body = find(m, "body");
    if (find(m, "error")) {
        if (!from || !body)
            return;
        JabberEvent event;
        event.jid = bare_jid(*from);
        event.text = body->text;
        bool from_transport;
        {
            std::lock_guard lock(state_mutex_);
            from_transport = transports_.network_of(event.jid) != -1;
        }
        if (from_transport)
            raise(kEventMessageError, &event);
        return;
    }
    if (!from)
        return;
    JabberEvent event;
    event.jid = bare_jid(*from);
    if (body) {
        event.text = body->text;
        raise(attr(m, "type") == "error" ? kEventMessageError : kEventChatMessage, &event);
    } else if (const XmlNode* x = find(m, "x")) {
        if (find(*x, "composing")) {
            event.chat_state = 1;
            raise(kEventChatState, &event);
        }
    } else if (find(m, "inactive") || find(m, "paused") || find(m, "gone")) {
        event.chat_state = 2;
        raise(kEventChatState, &event);
    }
}

// ---- gateways

bool JabberClient::isGatewayRegistered(int network)
{
    std::lock_guard lock(state_mutex_);
    return transports_.registered(network);
}

void JabberClient::registerGateway(int network, const std::string& user,
                                   const std::string& password)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    const std::string transport = transport_jid(network);
    auto iq = new_iq({{"to", transport}, {"type", "set"}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:register");
    q->add_child("password")->text = password;
    q->add_child("username")->text = user;
    q->add_child("x")->add_attribute("xmlns", "jabber:iq:gateway:register");
    send_request(*iq, [this](const XmlNode& answer) {
        // An error answer registers nothing.
        const std::string* from = answer.attribute_value("from");
        if (!from || attr(answer, "type") == "error")
            return;
        send_presence(*from);
        mark_transport_registered(*from);
    });
}

void JabberClient::unregisterGateway(int network)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    const std::string transport = transport_jid(network);
    auto iq = new_iq({{"to", transport}, {"type", "set"}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:register");
    q->add_child("remove");
    send_request(*iq, nullptr);
    std::lock_guard lock(state_mutex_);
    transports_.clear_registered(network);
}

void JabberClient::translate(int network, const std::string& legacy_address)
{
    const std::string transport = transport_jid(network);
    if (transport.empty())
        return;
    auto iq = new_iq({{"type", "set"}, {"to", transport}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:gateway");
    q->add_child("prompt")->text = legacy_address;
    send_request(*iq, [this, transport, legacy_address](const XmlNode& answer) {
        const XmlNode* jid_element = find(answer, "jid");
        std::string jid;
        // No usable answer: build the gateway JID ourselves.
        if (!jid_element || jid_element->text == "null")
            jid = ScanString(legacy_address).replace_all("@", "\\40").str() + "@" + transport;
        else
            jid = jid_element->text;
        const auto escape = jid.find("\\40");
        plain_add(jid, escape == std::string::npos ? jid : jid.substr(0, escape), "");
    });
}

void JabberClient::mark_transport_registered(const std::string& jid)
{
    int network;
    {
        std::lock_guard lock(state_mutex_);
        network = transports_.mark_registered(jid);
    }
    if (network == -1)
        return;
    send_presence(jid);
    JabberEvent event;
    event.network = network;
    raise(kEventTransport, &event);
}

void JabberClient::send_disco_items()
{
    auto iq = new_iq({{"to", domain()}, {"type", "get"}});
    iq->add_child("query")->add_attribute("xmlns", kDiscoItems);
    send_request(*iq, [this](const XmlNode& answer) { on_disco_items(answer); });
}

void JabberClient::on_disco_items(const XmlNode& answer)
{
    const XmlNode* query = find(answer, "query");
    if (!query)
        return;
    for (const auto& item : query->children) {
        if (attr(*item, "name").find("Transport") == std::string::npos)
            continue;
        XmlNode iq("iq");
        iq.add_attribute("id", next_id());
        if (const std::string* jid = item->attribute_value("jid"))
            iq.add_attribute("to", *jid);
        iq.add_attribute("type", "get");
        iq.add_child("query")->add_attribute("xmlns", kDiscoInfo);
        send_request(iq, [this](const XmlNode& info) { on_disco_info(info); });
    }
}

void JabberClient::on_disco_info(const XmlNode& answer)
{
    const XmlNode* query = find(answer, "query");
    const std::string* type = answer.attribute_value("type");
    if (!query || !type)
        return;
    if (*type == "error") {
        JabberEvent empty;
        raise(kEventCallImpossible, &empty);
        return;
    }
    if (*type != "result")
        return;
    bool jingle = false, rtp = false, registered = false;
    for (const auto& feature : query->children) {
        if (feature->name != "feature")
            continue;
        const std::string var = attr(*feature, "var");
        jingle = jingle || var.find("xep-0166.html") != std::string::npos;
        rtp = rtp || var.find("xep-0167.html") != std::string::npos;
        registered = registered || var.find("jabber:iq:registered") != std::string::npos;
    }
    const std::string from = attr(answer, "from");
    if (from.find('@') != std::string::npos)
        raise(jingle && rtp ? kEventJingleSupported : kEventCallImpossible, nullptr);
    else if (registered)
        mark_transport_registered(from);
}

// ---- the service's own iqs

void JabberClient::sendHoller(const std::string& to)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    auto iq = new_iq({{"type", "set"}, {"to", to}});
    iq->add_child("query")->add_attribute("xmlns", "jabber:iq:vokar:holler:send");
    send_request(*iq, [this](const XmlNode& answer) {
        if (const XmlNode* query = find(answer, "query")) {
            JabberEvent event;
            event.text = query->text;
            raise(kEventHollerAnswer, &event);
        }
    });
}

void JabberClient::retrieveHollers()
{
    CallGuard guard(*this);
    if (!guard)
        return;
    auto iq = new_iq({{"type", "set"}});
    iq->add_child("query")->add_attribute("xmlns", "jabber:iq:vokar:holler:retrieve");
    send_request(*iq, [this](const XmlNode& answer) {
        JabberEvent event;
        if (const XmlNode* query = find(answer, "query")) {
            ScanString text(query->text);
            for (;;) {
                ScanString token = text.next_token();
                if (token.empty())
                    break;
                event.items.push_back(token.str());
            }
        }
        raise(kEventHollers, &event);
    });
}

void JabberClient::setHollerAllowed(bool allowed)
{
    CallGuard guard(*this);
    if (!guard)
        return;
    auto iq = new_iq({{"type", "set"}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:vokar:holler:setallow");
    q->text = allowed ? "enable" : "disable";
    send_request(*iq, nullptr);
}

void JabberClient::send_version_check()
{
    auto iq = new_iq({{"type", "set"}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:vokar:services:versionupdate");
    q->add_attribute("method", "checkupdates");
    q->add_child("os")->text = os_;
    q->add_child("version")->text = version_;
    send_request(*iq, [this](const XmlNode& answer) {
        const XmlNode* query = find(answer, "query");
        if (!query || attr(*query, "update") != "true")
            return;
        const std::string* force = query->attribute_value("forceupdate");
        const XmlNode* url = find(*query, "updateurl");
        const XmlNode* message = find(*query, "message");
        if (!force || !url || !message)
            return;
        JabberEvent event;
        event.force_update = *force == "true";
        event.update_url = url->text;
        event.update_message = message->text;
        raise(kEventNewVersion, &event);
    });
}

} // namespace vokar
