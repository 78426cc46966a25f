#include "core/app_controller.h"

#include <algorithm>
#include <utility>

#include "account/number_normalizer.h"
#include "account/settings_store.h"
#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "core/sip_phone.h"
#include "platform/text.h"

namespace vokar {
namespace {

using platform::to_utf8;
using platform::to_wide;

// The back-off is waited in steps this long, so that a logout, a drop or
// shutdown cuts it short.
constexpr uint32_t kBackOffStepMs = 100;

} // namespace

// One client, and the generation that tells its events apart from those of
// clients already dropped (they may still deliver while being freed).
struct AppController::Session final : JabberListener {
    Session(AppController& o, uint64_t g, std::unique_ptr<JabberClient> c)
        : owner(o), generation(g), client(std::move(c))
    {
        client->addListener(this);
    }
    ~Session() override
    {
        client.reset(); // waits for the client's threads
        owner.session_freed();
    }
    void onJabberEvent(int code, const JabberEvent* event) override
    {
        owner.on_session_event(generation, code, event);
    }

    AppController& owner;
    const uint64_t generation;
    std::unique_ptr<JabberClient> client; // last member: freed first
};

AppController::AppController(Services services, Config config)
    : settings_(services.settings), bearer_(services.bearer), ui_(services.ui),
      clock_(services.clock), disposal_(services.disposal),
      make_client_(std::move(services.make_client)),
      make_connection_(std::move(services.make_connection)), service_domain_(config.service_domain),
      friends_(services.settings, FriendsModel::Config{config.web_host_name, config.service_domain,
                                                       config.contact_name}),
      calls_{services.ui, services.settings, config.calls, std::move(config.contact_name)}
{
}

AppController::~AppController()
{
    closing_ = true;
    call_worker_.stop();
    screen_worker_.stop();
    worker_.stop();
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        s = std::move(session_);
    }
    if (s)
        disposal_.release_after(std::move(s), 0);
    std::unique_lock lock(mutex_);
    sessions_freed_.wait(lock, [this] { return live_sessions_ == 0; });
}

void AppController::session_freed()
{
    // Notified under the lock: the destructor waiting for it may return and
    // free the condition as soon as the count reads 0.
    std::lock_guard lock(mutex_);
    --live_sessions_;
    sessions_freed_.notify_all();
}

AppController::ClientFactory AppController::client_factory(Reactor& reactor,
                                                           const platform::OperatorConfig& config)
{
    JabberClient::Options options;
    options.web_host_name = config.web_host_name;
    options.gtalk_mail_domain = config.gtalk_mail_domain;
    return [&reactor, options](const std::string& domain, const std::string& os,
                               const std::string& version) {
        return std::make_unique<JabberClient>(domain, os, version, reactor, options);
    };
}

std::shared_ptr<AppController::Session> AppController::session()
{
    std::lock_guard lock(mutex_);
    return session_;
}

uint64_t AppController::session_generation()
{
    std::lock_guard lock(mutex_);
    return session_ ? session_->generation : 0;
}

bool AppController::is_current(uint64_t generation)
{
    std::lock_guard lock(mutex_);
    return session_ && session_->generation == generation;
}

void AppController::dispose(std::shared_ptr<Session> session)
{
    if (session)
        disposal_.release_after(std::move(session), kDisposeDelayMs);
}

// ---- login, connect, logout

void AppController::login(const std::string& user, const std::string& password)
{
    std::shared_ptr<Session> s;
    bool start = false;
    {
        std::lock_guard lock(mutex_);
        closing_ = false;
        if (session_) {
            s = session_;
        } else {
            login_pending_ = true;
            user_ = user;
            password_ = password;
            if (bearer_.connected() && !connect_queued_)
                start = connect_queued_ = true;
        }
    }
    if (s) {
        s->client->login(user, password);
        return;
    }
    if (start && !worker_.post([this] { connect(); })) {
        std::lock_guard lock(mutex_);
        connect_queued_ = false;
    }
}

// Runs on the worker.
void AppController::connect()
{
    {
        std::lock_guard lock(mutex_);
        connect_queued_ = false;
        // Logged out, already connected, or shutting down since it was asked for.
        if (closing_ || session_ || !login_pending_ || worker_.stopping())
            return;
    }
    std::unique_ptr<JabberClient> client = make_client_(service_domain_, kOs, kVersion);
    if (!client)
        return;
    register_payload_types(*client);
    const std::string local_address = bearer_.local_address();
    const ServerEndpoint server = settings_.server_list(SettingsStore::kXmppList).current();

    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        if (closing_ || session_)
            return; // the unconnected client has no thread inside it yet
        s = disposal_.share(
            std::make_unique<Session>(*this, ++next_generation_, std::move(client)));
        ++live_sessions_;
        session_ = s;
    }
    const uint64_t generation = s->generation;
    // A dead tunnel is no fault of the XMPP server behind it: the list stays.
    auto connection =
        make_connection_(local_address, true, false, [this, generation](int kind, int error) {
            schedule_reconnect(generation, error, kind != kSocketErrorTunnel);
        });
    s->client->connect(std::move(connection), server.host, static_cast<uint16_t>(server.port),
                       kLocalPort);
}

void AppController::register_payload_types(JabberClient& client)
{
    // One channel each, no clock rate.
    PayloadType speex;
    speex.id = CallController::kPayloadSpeex;
    speex.name = "speex";
    client.registerCodec(speex);
    PayloadType gsm;
    gsm.id = CallController::kPayloadGsm;
    gsm.name = "gsm";
    client.registerCodec(gsm);
}

void AppController::logout()
{
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        if (closing_)
            return;
        // Also without a client, so that a connect still queued does not log
        // the user in after the logout.
        closing_ = true;
        login_pending_ = false;
        connected_ = false;
        logged_in_ = false;
        s = std::move(session_);
    }
    if (!s)
        return;
    s->client->logout();
    friends_.clear();
    dispose(std::move(s));
}

void AppController::drop()
{
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        s = std::move(session_);
        connected_ = false;
        logged_in_ = false;
    }
    dispose(std::move(s));
}

void AppController::attachSipPhone(SipPhone* phone)
{
    std::lock_guard lock(mutex_);
    sip_phone_ = phone;
}

void AppController::bearerAvailable()
{
    const Settings stored = settings_.values();
    const std::string user = to_utf8(stored.username);
    const std::string password = to_utf8(stored.password);
    SipPhone* sip;
    {
        std::lock_guard lock(mutex_);
        sip = sip_phone_;
    }
    if (sip)
        sip->login(user, password); // replaces its stack
    drop();
    login(user, password);
}

void AppController::bearerLost()
{
    friends_.setAllOffline();
    SipPhone* sip;
    {
        std::lock_guard lock(mutex_);
        sip = sip_phone_;
    }
    if (sip)
        sip->drop();
    drop();
}

// ---- reconnect

bool AppController::advances_server_list(int error)
{
    switch (error) {
    case 10039: // destination address required
    case 10049: // address not available
    case 10050: // network down
    case 10051: // network unreachable
    case 10060: // timed out
    case 10061: // refused
    case 10064: // host down
    case 10065: // host unreachable
    case 11001: // host not found
        return true;
    default:
        return false;
    }
}

uint32_t AppController::backoff_ms(int retry_count)
{
    if (retry_count < 2)
        return 100;
    if (retry_count < 4)
        return 1000;
    if (retry_count < 8)
        return 5000;
    return 30000;
}

// Called on whatever thread failed (a receive thread, the worker, the GUI
// thread for a send): the routine itself sleeps and frees the client, so it
// only ever runs on the worker.
void AppController::schedule_reconnect(uint64_t generation, int error, bool server_fault)
{
    worker_.post(
        [this, generation, error, server_fault] { reconnect(generation, error, server_fault); });
}

bool AppController::back_off(uint64_t generation, uint32_t ms)
{
    while (ms > 0) {
        if (worker_.stopping() || closing_ || !is_current(generation))
            return false;
        const uint32_t step = std::min(ms, kBackOffStepMs);
        clock_.sleep_ms(step);
        ms -= step;
    }
    return !worker_.stopping();
}

void AppController::reconnect(uint64_t generation, int error, bool server_fault)
{
    int count;
    {
        std::lock_guard lock(mutex_);
        // One failure often reports twice (socket error, then kEventDisconnected); only
        // the first restarts a client, and a dropped client restarts nothing.
        if (closing_ || !session_ || session_->generation != generation)
            return;
        login_pending_ = false;
        logged_in_ = false;
        count = ++retry_count_;
    }
    // Presences end with the connection; the roster and presences of the
    // next login bring the friends back.
    friends_.setAllOffline();
    if (server_fault && advances_server_list(error))
        settings_.server_list(SettingsStore::kXmppList).advance();
    if (!back_off(generation, backoff_ms(count)))
        return;
    std::shared_ptr<Session> old;
    {
        std::lock_guard lock(mutex_);
        if (closing_ || !session_ || session_->generation != generation)
            return; // logged out or replaced during the wait
        old = std::move(session_);
        connected_ = false;
    }
    dispose(std::move(old));
    const Settings stored = settings_.values();
    login(to_utf8(stored.username), to_utf8(stored.password));
}

// ---- events

void AppController::on_session_event(uint64_t generation, int code, const JabberEvent* event)
{
    if (closing_ || !is_current(generation))
        return;
    switch (code) {
    case kEventChatMessage:
        return on_chat_message(event);
    case kEventPresence:
        return on_presence_updates(event);
    case kEventAuthentication:
        return on_authentication(generation, event);
    case kEventConnected:
        return on_connected();
    case kEventDisconnected:
        return on_disconnected(generation, event);
    case kEventTransport:
        return on_transport(event);
    case kEventHollers:
        return on_hollers(event);
    case kEventRosterLoaded:
        return on_roster_loaded();
    case kEventHollerAnswer:
        return on_holler_answer(event);
    case kEventMessageError:
        return on_message_error(event);
    case kEventNewVersion:
        return on_new_version(event);
    case kEventCallImpossible:
        return on_call_impossible(event);
    case kEventPeerRinging:
        return on_peer_ringing(event);
    case kEventCallAccepted:
        return on_call_accepted(event);
    case kEventCallEnded:
        return on_call_ended(event);
    case kEventIncomingCall:
        return on_incoming_call(event);
    case kEventJingleError:
        return on_jingle_error(event);
    default:
        // Chat states are the chat screen's.
        return;
    }
}

void AppController::on_chat_message(const JabberEvent* event)
{
    if (!event)
        return;
    if (event->jid == service_domain_) {
        ui_.send_message(MessageCode::ServiceMessage, reinterpret_cast<uintptr_t>(&event->text));
        return;
    }
    friends_.onMessage(to_wide(event->jid), to_wide(event->text));
    ui_.chat_received(event->jid, event->text);
    ui_.send_message(MessageCode::FriendsListChanged, 0);
}

void AppController::on_authentication(uint64_t generation, const JabberEvent* event)
{
    if (!event)
        return;
    if (event->result != 0) {
        schedule_reconnect(generation, kLoginRefused);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        retry_count_ = 0;
    }
    setStatusText(settings_.get(&Settings::status_message));
    logged_in_ = true;
    login_pending_ = false;
    bool ask = false;
    settings_.update([&ask](Settings& v) { ask = std::exchange(v.first_run, false); });
    if (ask)
        ui_.send_message(MessageCode::AskImportAccounts, 0);
}

void AppController::on_connected()
{
    connected_ = true;
    std::string user, password;
    {
        std::lock_guard lock(mutex_);
        user = user_;
        password = password_;
    }
    login(user, password);
}

void AppController::on_disconnected(uint64_t generation, const JabberEvent* event)
{
    // A connection the client ended itself (a stream it could not parse; a
    // login past its deadline, with the time-out's error code) must also
    // come back.
    connected_ = false;
    schedule_reconnect(generation, event ? event->result : 0);
}

void AppController::on_transport(const JabberEvent* event)
{
    if (!event)
        return;
    std::lock_guard lock(mutex_);
    if (std::find(gateways_.begin(), gateways_.end(), event->network) == gateways_.end())
        gateways_.push_back(event->network);
}

void AppController::on_hollers(const JabberEvent* event)
{
    if (event && !event->items.empty())
        ui_.send_message(MessageCode::HollersRetrieved, reinterpret_cast<uintptr_t>(&event->items));
}

void AppController::on_roster_loaded()
{
    ui_.send_message(MessageCode::GatewayMessageFailed, 0);
    if (auto s = session()) {
        s->client->retrieveHollers();
        s->client->setHollerAllowed(settings_.get(&Settings::allow_holler));
    }
}

void AppController::on_holler_answer(const JabberEvent* event)
{
    if (event)
        ui_.send_message(MessageCode::HollerAnswered, reinterpret_cast<uintptr_t>(&event->text));
}

void AppController::on_message_error(const JabberEvent* event)
{
    if (event)
        ui_.send_message(MessageCode::GatewayMessageFailed, reinterpret_cast<uintptr_t>(event));
}

void AppController::on_new_version(const JabberEvent* event)
{
    if (!event)
        return;
    // The notice waits for the progress screen on the screen worker, so that
    // the receive thread goes on reading the stream meanwhile.
    screen_worker_.post([this, notice = *event] {
        while (!closing_ && !screen_worker_.stopping() && ui_.progress_screen_current())
            clock_.sleep_ms(kProgressPollMs);
        if (!closing_ && !screen_worker_.stopping())
            ui_.show_new_version(notice);
    });
}

void AppController::on_presence_updates(const JabberEvent* event)
{
    if (!event)
        return;
    for (const PresenceUpdate& u : event->updates) {
        const std::wstring jid = to_wide(u.jid);
        if (u.removed)
            friends_.remove(jid);
        else if (u.in_roster)
            friends_.onRosterItem(jid, to_wide(u.name), u.status);
        else
            friends_.onPresence(jid, to_wide(u.status_text), u.status);
        ui_.presence_received(u);
        if (u.removed || u.status != kStatusAvailable)
            continue;
        bool hollered = false;
        {
            std::lock_guard lock(mutex_);
            const auto it = std::find(notify_online_.begin(), notify_online_.end(), jid);
            if (it != notify_online_.end()) {
                notify_online_.erase(it);
                hollered = true;
            }
        }
        if (hollered) {
            const auto f = friends_.find(jid);
            const std::wstring name = f ? f->display_name : jid;
            ui_.send_message(MessageCode::HollerFriendOnline, reinterpret_cast<uintptr_t>(&name));
        }
    }
    ui_.send_message(MessageCode::FriendsListChanged, 0);
}

bool AppController::takeImportQuestionIfLoggedIn()
{
    if (!logged_in_)
        return false;
    bool ask = false;
    settings_.update([&ask](Settings& v) { ask = std::exchange(v.first_run, false); });
    return ask;
}

std::vector<int> AppController::gateways()
{
    std::lock_guard lock(mutex_);
    return gateways_;
}

// ---- screen operations

void AppController::acceptFriend(const std::wstring& jid, const std::wstring& name,
                                 const std::wstring& group)
{
    const auto s = session();
    if (!s)
        return;
    s->client->acceptContact(to_utf8(jid), to_utf8(name), to_utf8(group));
    // Offline until the friend's presence arrives.
    const auto f = friends_.find(jid);
    friends_.onPresence(jid, f ? f->status_text : std::wstring(), kStatusOffline);
    ui_.send_message(MessageCode::FriendRequestAccepted, 0);
    ui_.send_message(MessageCode::FriendsListChanged, 0);
}

void AppController::rejectFriend(const std::wstring& jid)
{
    const auto s = session();
    if (!s)
        return;
    s->client->rejectContact(to_utf8(jid));
    friends_.remove(jid);
    ui_.send_message(MessageCode::FriendRequestRejected, 0);
    ui_.send_message(MessageCode::FriendsListChanged, 0);
}

void AppController::removeFriend(const std::wstring& jid)
{
    const auto s = session();
    if (!s)
        return;
    s->client->removeContact(to_utf8(jid));
    friends_.remove(jid);
    ui_.post_message(MessageCode::FriendsListChanged, 0);
}

void AppController::renameFriend(const std::wstring& jid, const std::wstring& name)
{
    const auto s = session();
    if (!s)
        return;
    s->client->renameContact(to_utf8(jid), to_utf8(name));
    if (const auto f = friends_.find(jid))
        friends_.onRosterItem(jid, name, f->status);
    ui_.post_message(MessageCode::FriendsListChanged, 0);
}

void AppController::addFriend(int network, const std::wstring& jid, const std::wstring& name,
                              const std::wstring& group)
{
    if (const auto s = session())
        s->client->addContact(network, to_utf8(jid), to_utf8(name), to_utf8(group));
}

void AppController::hollerFriend(const std::wstring& jid)
{
    const auto s = session();
    if (!s)
        return;
    s->client->sendHoller(to_utf8(jid));
    std::lock_guard lock(mutex_);
    // Listed once: hollering twice still tells the user once.
    if (std::find(notify_online_.begin(), notify_online_.end(), jid) == notify_online_.end())
        notify_online_.push_back(jid);
}

void AppController::setStatusText(const std::wstring& text)
{
    const auto s = session();
    if (!s)
        return;
    settings_.set(&Settings::status_message, text);
    settings_.save_soon();
    s->client->setStatusText(to_utf8(text));
}

void AppController::setStatus(int status)
{
    if (const auto s = session())
        s->client->setStatus(status);
}

void AppController::sendMessage(const std::string& to, const std::string& body)
{
    if (const auto s = session())
        s->client->sendMessage(to, body);
}

void AppController::registerGateway(int network, const std::string& user,
                                    const std::string& password)
{
    if (const auto s = session())
        s->client->registerGateway(network, user, password);
}

void AppController::unregisterGateway(int network)
{
    if (const auto s = session())
        s->client->unregisterGateway(network);
}

void AppController::setHollerAllowed(bool allowed)
{
    if (const auto s = session())
        s->client->setHollerAllowed(allowed);
}

// ---- calls between users

std::shared_ptr<CallController> AppController::makeCall(const std::wstring& typed)
{
    auto call = std::make_shared<CallController>(calls_, this, false);
    const std::wstring number =
        normalize_number(typed, settings_.get(&Settings::dialing_prefix), nullptr);
    const std::wstring name = calls_.contact_name ? calls_.contact_name(number) : std::wstring();
    call->setNumber(number, name);
    if (calls_.setup.history)
        calls_.setup.history->add_outgoing(number, call->displayName());
    ui_.send_message(MessageCode::CallCreated, reinterpret_cast<uintptr_t>(call.get()));
    placeCall(call.get());
    return call;
}

std::shared_ptr<CallController> AppController::currentCall()
{
    std::lock_guard lock(mutex_);
    return call_;
}

std::pair<std::shared_ptr<CallController>, std::shared_ptr<JingleSession>>
AppController::take_call(const CallController* call)
{
    std::lock_guard lock(mutex_);
    if (!call_ || (call && call_.get() != call))
        return {};
    return {std::move(call_), std::move(jingle_)};
}

std::vector<TransportAddress> AppController::discover_jingle_addresses(CallController& call)
{
    MediaParameters media;
    media.local_address = bearer_.local_address();
    std::vector<TransportAddress> addresses;
    if (calls_.setup.discovery)
        addresses = calls_.setup.discovery->jingle_addresses(media);
    call.setMediaParameters(media);
    return addresses;
}

void AppController::placeCall(CallController* call)
{
    if (!call)
        return;
    const std::shared_ptr<CallController> shared = call->shared_from_this();
    std::shared_ptr<JingleSession> previous;
    {
        std::lock_guard lock(mutex_);
        call_ = shared;
        previous = std::move(jingle_);
    }
    if (const auto s = session(); s && previous)
        s->client->terminate(previous, kConditionBusy);
    call_worker_.post([this, shared] { start_jingle_call(shared); });
}

// Runs on the call worker.
void AppController::start_jingle_call(const std::shared_ptr<CallController>& call)
{
    {
        std::lock_guard lock(mutex_);
        if (call_ != call)
            return; // hung up meanwhile
    }
    const std::vector<TransportAddress> addresses = discover_jingle_addresses(*call);
    const auto s = session();
    {
        std::lock_guard lock(mutex_);
        if (call_ != call)
            return;
        starting_ = s ? call.get() : nullptr;
    }
    if (!s) {
        // Not connected: the call cannot go out over Jingle.
        move_to_sip(call);
        return;
    }
    const std::string peer = to_utf8(call->number()) + "@" + service_domain_;
    // kEventCallImpossible arrives inside, on this thread, and moves the call.
    const std::shared_ptr<JingleSession> started =
        s->client->startCall(peer, addresses, kTransportAddress);
    bool kept = false, current;
    {
        std::lock_guard lock(mutex_);
        starting_ = nullptr;
        current = call_ == call;
        if (started && current && !jingle_) {
            jingle_ = started;
            kept = true;
        }
    }
    if (started && !kept)
        s->client->terminate(started, kConditionBusy); // hung up or moved meanwhile
    else if (!started && current)
        move_to_sip(call);
}

void AppController::move_to_sip(const std::shared_ptr<CallController>& call)
{
    auto [taken, jingle] = take_call(call.get());
    if (!taken)
        return;
    if (const auto s = session(); s && jingle)
        s->client->terminate(jingle, kConditionBusy);
    SipPhone* sip;
    {
        std::lock_guard lock(mutex_);
        sip = sip_phone_;
    }
    if (!sip) {
        taken->ended(LoadResourceString(StringId::CALL_ENDED));
        return;
    }
    // A hang-up that came first keeps the call where it is.
    if (taken->moveTo(sip))
        sip->placeCall(taken.get());
}

void AppController::ringing(CallController* call)
{
    std::shared_ptr<JingleSession> jingle;
    {
        std::lock_guard lock(mutex_);
        if (call_.get() == call)
            jingle = jingle_;
    }
    const auto s = session();
    if (s && jingle)
        s->client->sendRinging(jingle);
}

void AppController::accept(CallController* call)
{
    std::shared_ptr<JingleSession> jingle;
    {
        std::lock_guard lock(mutex_);
        if (call_.get() == call)
            jingle = jingle_;
    }
    const auto s = session();
    if (!s || !jingle)
        return;
    // After the local addresses that the call worker is still finding.
    call_worker_.post([s, jingle] { s->client->accept(jingle); });
}

void AppController::reject(CallController* call)
{
    auto [taken, jingle] = take_call(call);
    if (const auto s = session(); s && jingle)
        s->client->terminate(jingle, kConditionDecline);
}

void AppController::hangUp(CallController* call)
{
    auto [taken, jingle] = take_call(call);
    if (const auto s = session(); s && jingle)
        s->client->terminate(jingle, kConditionBusy);
}

void AppController::on_call_impossible(const JabberEvent* /*event*/)
{
    // Raised inside startCall for the call being started; the same event
    // comes with every login and with contacts' answers, which leave every
    // other call alone.
    std::shared_ptr<CallController> call;
    {
        std::lock_guard lock(mutex_);
        if (!call_ || starting_ != call_.get())
            return;
        call = call_;
    }
    if (!call->isIncoming() && call->owner() == this && call->state() == CallController::kNew)
        move_to_sip(call);
}

namespace {

// The call whose session the event names, when it is the current one.
std::shared_ptr<CallController> call_of(const JabberEvent* event,
                                        const std::shared_ptr<CallController>& call,
                                        const std::shared_ptr<JingleSession>& jingle)
{
    if (!event || !event->session || event->session != jingle)
        return nullptr;
    return call;
}

} // namespace

void AppController::on_peer_ringing(const JabberEvent* event)
{
    std::shared_ptr<CallController> call;
    {
        std::lock_guard lock(mutex_);
        call = call_of(event, call_, jingle_);
    }
    if (call)
        call->ringing();
}

void AppController::on_call_accepted(const JabberEvent* event)
{
    std::shared_ptr<CallController> call;
    {
        std::lock_guard lock(mutex_);
        call = call_of(event, call_, jingle_);
    }
    const auto s = session();
    if (!call || !s)
        return;
    const std::shared_ptr<JingleSession>& jingle = event->session;
    CallMedia media;
    for (int32_t id : s->client->payloadIds(jingle))
        media.payloads.push_back(id);
    media.session_id = jingle->sid;
    const MediaEndpoints remote = s->client->mediaEndpoints(jingle);
    media.remote.stun = {remote.stun_ip, remote.stun_port};
    media.remote.lan = {remote.peer_ip, remote.peer_port};
    media.remote.direct = {remote.proxy_ip, remote.proxy_port};
    call->connected(media);
}

void AppController::on_call_ended(const JabberEvent* event)
{
    std::shared_ptr<CallController> call;
    {
        std::lock_guard lock(mutex_);
        call = call_of(event, call_, jingle_);
    }
    if (!call)
        return;
    // The client has already removed the session: only the call is taken.
    if (!take_call(call.get()).first)
        return; // hung up here meanwhile
    call->ended(event->text.empty() ? LoadResourceString(StringId::CALL_ENDED)
                                    : to_wide(event->text));
}

void AppController::on_incoming_call(const JabberEvent* event)
{
    const auto s = session();
    if (!event || !event->session || !s)
        return;
    const std::shared_ptr<JingleSession> jingle = event->session;
    auto call = std::make_shared<CallController>(calls_, this, true);
    bool busy;
    {
        std::lock_guard lock(mutex_);
        busy = call_ || jingle_;
        if (!busy) {
            call_ = call;
            jingle_ = jingle;
        }
    }
    if (busy) {
        s->client->terminate(jingle, kConditionBusy);
        return;
    }
    std::string caller = jingle->initiator.empty() ? jingle->peer_jid : jingle->initiator;
    caller = caller.substr(0, caller.find_first_of("@/"));
    call_worker_.post([this, s, call, jingle] {
        s->client->setLocalAddresses(jingle, discover_jingle_addresses(*call));
    });
    call->incoming(caller);
}

void AppController::on_jingle_error(const JabberEvent* event)
{
    std::shared_ptr<CallController> call;
    {
        std::lock_guard lock(mutex_);
        if (!event || !call_ || !jingle_ || jingle_->sid != event->sid)
            return;
        call = call_;
    }
    // The peer refused the call's first request: try SIP as when it cannot
    // take Jingle calls. A later request failing ends the call.
    if (!call->isIncoming() && call->owner() == this && call->state() == CallController::kNew) {
        move_to_sip(call);
        return;
    }
    auto [taken, jingle] = take_call(call.get());
    if (!taken)
        return;
    if (const auto s = session(); s && jingle)
        s->client->terminate(jingle, kConditionGeneralError);
    taken->ended(LoadResourceString(StringId::CALL_ENDED));
}

} // namespace vokar
