#include "core/sip_phone.h"

#include <algorithm>

#include "account/settings_store.h"
#include "base/disposal_queue.h"
#include "core/app_controller.h"
#include "platform/text.h"

namespace vokar {

// One stack, and the login it belongs to: events of a replaced stack that is
// still being freed are not taken for the current login's.
struct SipPhone::Stack final : SipListener {
    Stack(SipPhone& o, uint64_t g, std::unique_ptr<SipStackInterface> s)
        : owner(o), generation(g), stack(std::move(s))
    {
    }
    ~Stack() override
    {
        stack.reset(); // waits for the stack's threads
        owner.stack_freed();
    }
    void on_sip_event(int code, const void* data) override
    {
        owner.on_stack_event(generation, code, data);
    }

    SipPhone& owner;
    const uint64_t generation;
    std::unique_ptr<SipStackInterface> stack; // last member: freed first
};

SipPhone::SipPhone(Services services)
    : settings_(services.settings), bearer_(services.bearer), ui_(services.ui), app_(services.app),
      disposal_(services.disposal), make_stack_(std::move(services.make_stack)),
      make_connection_(std::move(services.make_connection)),
      request_dialing_prefix_(std::move(services.request_dialing_prefix)),
      terminate_(std::move(services.terminate))
{
    app_.attachSipPhone(this);
    settings_.set_client_up(
        [this](int kind) { return kind == kServerSip ? sipLoggedIn() : app_.connected(); });
}

SipPhone::~SipPhone()
{
    settings_.set_client_up(nullptr);
    app_.attachSipPhone(nullptr);
    call_thread_.stop();
    login_thread_.stop();
    std::shared_ptr<Stack> s;
    {
        std::lock_guard lock(mutex_);
        s = std::move(stack_);
        ++generation_;
    }
    dispose(std::move(s));
    std::unique_lock lock(mutex_);
    stacks_freed_.wait(lock, [this] { return live_stacks_ == 0; });
}

void SipPhone::stack_freed()
{
    // Notified under the lock: the destructor waiting for it may return and
    // free the condition as soon as the count reads 0.
    std::lock_guard lock(mutex_);
    --live_stacks_;
    stacks_freed_.notify_all();
}

std::shared_ptr<SipPhone::Stack> SipPhone::current()
{
    std::lock_guard lock(mutex_);
    return stack_;
}

void SipPhone::dispose(std::shared_ptr<Stack> stack)
{
    // Freeing a stack waits for its receive thread, which may be waiting for
    // the GUI thread: never on the caller's thread.
    if (stack)
        disposal_.release_after(std::move(stack), 0);
}

void SipPhone::login(const std::string& user, const std::string& password)
{
    std::shared_ptr<Stack> old;
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        user_ = user;
        password_ = password;
        old = std::move(stack_);
        generation = ++generation_;
        login_in_progress_ = true;
        logged_in_ = false;
    }
    dispose(std::move(old));
    settings_.update([&](Settings& v) {
        v.username = platform::to_wide(user);
        v.password = platform::to_wide(password);
    });
    settings_.save_soon();
    if (!bearer_.connected()) {
        ui_.show_message(StringId::ERROR_NO_CONNECTION, StringId::ERROR_TITLE);
        return;
    }
    ui_.show_progress(StringId::PROGRESS_LOGGING_IN);
    login_thread_.post([this, generation] { start_stack(generation); });
}

// Runs on the login thread.
void SipPhone::start_stack(uint64_t generation)
{
    std::string user, password;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_)
            return; // a newer login or a drop came first
        user = user_;
        password = password_;
    }
    std::unique_ptr<SipStackInterface> created = make_stack_(settings_.get(&Settings::domain));
    if (!created)
        return;
    created->add_codec(kPayloadGsm);
    created->add_codec(kPayloadSpeex);
    const std::string local_address = bearer_.local_address();
    // Datagram losses are the stack's business (it retransmits and times out).
    auto connection = make_connection_(local_address, false, true, [](int, int) {});
    const ServerEndpoint server = settings_.server_list(SettingsStore::kSipList).current();

    std::shared_ptr<Stack> s;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_)
            return; // nothing runs inside the unopened stack yet
        s = disposal_.share(std::make_unique<Stack>(*this, generation, std::move(created)));
        ++live_stacks_;
        stack_ = s;
    }
    s->stack->add_listener(s.get());
    s->stack->open(std::move(connection), server.host, local_address,
                   static_cast<uint16_t>(server.port), kLocalPort);
    s->stack->set_display_name(user);
    s->stack->register_account(user, password);
}

void SipPhone::logout()
{
    if (const auto s = current())
        s->stack->unregister();
}

void SipPhone::drop()
{
    std::shared_ptr<Stack> s;
    {
        std::lock_guard lock(mutex_);
        s = std::move(stack_);
        ++generation_;
    }
    dispose(std::move(s));
}

void SipPhone::on_stack_event(uint64_t generation, int code, const void* data)
{
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_)
            return;
    }
    on_sip_event(code, data);
}

void SipPhone::on_sip_event(int code, const void* data)
{
    switch (code) {
    case kSipRegistration:
        if (data)
            on_registration(*static_cast<const SipResult*>(data));
        return;
    case kSipUnregistration:
        // Only shutdown unregisters: whatever the outcome, the program ends.
        if (terminate_)
            terminate_();
        return;
    case kSipRemoteRinging:
    case kSipCallEnded:
    case kSipIncomingCall:
    case kSipCallAnswered:
    case kSipProxyAuth:
    case kSipEarlyMedia:
    case kSipRedirected:
        if (data)
            on_call_event(code, *static_cast<const SipCall*>(data));
        return;
    default:
        return;
    }
}

void SipPhone::on_registration(const SipResult& result)
{
    {
        std::lock_guard lock(mutex_);
        if (!login_in_progress_)
            return;
        logged_in_ = result.code == SipResult::kSuccess;
        login_in_progress_ = false;
    }
    switch (result.code) {
    case SipResult::kSuccess: {
        const std::wstring prefix = settings_.get(&Settings::dialing_prefix);
        if ((prefix == L"-1" || prefix.empty()) && request_dialing_prefix_)
            request_dialing_prefix_();
        ui_.show_main_screen();
        if (app_.takeImportQuestionIfLoggedIn())
            ui_.ask_import_accounts();
        return;
    }
    case SipResult::kTimeout:
        settings_.server_list(SettingsStore::kSipList).advance();
        app_.logout();
        ui_.show_message(StringId::LOGIN_ERROR_TIMED_OUT, StringId::ERROR_TITLE);
        return;
    case SipResult::kAuthRefused:
        app_.logout();
        ui_.show_message(StringId::LOGIN_ERROR_BAD_CREDENTIALS, StringId::ERROR_TITLE);
        return;
    default:
        app_.logout();
        if (result.text.empty())
            ui_.show_message(StringId::LOGIN_ERROR_UNSPECIFIED, StringId::ERROR_TITLE);
        else
            ui_.show_message(platform::to_wide(result.text), StringId::ERROR_TITLE);
        return;
    }
}

// ---- calls

namespace {

CallMedia media_of(const SipCall& sip)
{
    CallMedia media;
    media.payloads = sip.remote_payloads;
    media.session_id = sip.session_id;
    media.remote.stun = {sip.remote_stun_ip, sip.remote_stun_port};
    media.remote.lan = {sip.remote_local_ip, sip.remote_local_port};
    media.remote.direct = {sip.remote_media_ip, sip.remote_media_port};
    return media;
}

} // namespace

StringId SipPhone::callEndText(int end_reason)
{
    switch (end_reason) {
    case 0:
        return StringId::CALL_ENDED_BUSY;
    case 1:
        return StringId::CALL_ENDED_TIMED_OUT;
    case 2:
        return StringId::CALL_ENDED_CANCELLED;
    case 4:
        return StringId::CALL_ENDED_INVALID_NUMBER;
    case 5:
        return StringId::CALL_ENDED_NO_AIRTIME;
    case 6:
        return StringId::CALL_ENDED_NOT_ALLOWED;
    case 7:
        return StringId::CALL_ENDED_UNAUTHORISED;
    default:
        return StringId::CALL_ENDED;
    }
}

size_t SipPhone::callCount()
{
    std::lock_guard lock(mutex_);
    return calls_.size();
}

SipPhone::CallEntry* SipPhone::find_locked(const CallController* call)
{
    for (CallEntry& e : calls_)
        if (e.call.get() == call)
            return &e;
    return nullptr;
}

SipPhone::CallEntry* SipPhone::find_locked(const std::string& key)
{
    if (key.empty())
        return nullptr;
    for (CallEntry& e : calls_)
        if (e.key == key)
            return &e;
    return nullptr;
}

SipPhone::CallEntry SipPhone::take(const CallController* call)
{
    std::lock_guard lock(mutex_);
    CallEntry taken;
    for (auto it = calls_.begin(); it != calls_.end(); ++it) {
        if (it->call.get() == call) {
            taken = std::move(*it);
            calls_.erase(it);
            break;
        }
    }
    if (!taken.key.empty())
        std::erase(keys_, taken.key);
    return taken; // the call may go with it: off the lock
}

void SipPhone::discover(SipStackInterface& stack, CallController& call)
{
    MediaParameters media;
    media.local_address = bearer_.local_address();
    if (AddressDiscovery* discovery = app_.callEnvironment().setup.discovery)
        discovery->sip_addresses(stack, media);
    call.setMediaParameters(media);
}

void SipPhone::placeCall(CallController* call)
{
    if (!call)
        return;
    std::shared_ptr<CallController> shared = call->shared_from_this();
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({shared, {}});
    }
    call_thread_.post([this, shared] { place(shared); });
}

// Runs on the call thread.
void SipPhone::place(const std::shared_ptr<CallController>& call)
{
    const auto s = current();
    {
        std::lock_guard lock(mutex_);
        if (!find_locked(call.get()))
            return; // hung up meanwhile
    }
    std::optional<std::string> key;
    if (s) {
        discover(*s->stack, *call);
        {
            std::lock_guard lock(mutex_);
            placing_ = true;
            held_.clear();
        }
        key = s->stack->call(platform::to_utf8(call->number()), settings_.get(&Settings::domain));
    }
    bool kept = false;
    std::vector<std::pair<int, SipCall>> early;
    {
        std::lock_guard lock(mutex_);
        placing_ = false;
        CallEntry* e = key ? find_locked(call.get()) : nullptr;
        if (e) {
            e->key = *key;
            keys_.push_back(*key);
            kept = true;
            replaying_ = *key;
        } else {
            held_.clear();
        }
    }
    if (!key) {
        // No stack, or not registered: the call cannot go out.
        if (take(call.get()).call)
            call->ended(LoadResourceString(StringId::CALL_ENDED));
        return;
    }
    if (!kept) {
        s->stack->hangup(*key); // hung up while the INVITE was being made
        return;
    }
    // Hands on what came early, and what comes meanwhile, in order.
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            early.clear();
            for (auto& held : held_)
                if (held.second.call_key == *key)
                    early.push_back(std::move(held));
            held_.clear();
            if (early.empty()) {
                replaying_.clear();
                return;
            }
        }
        for (const auto& [code, sip] : early)
            dispatch(code, sip);
    }
}

void SipPhone::ringing(CallController* call)
{
    std::string key;
    {
        std::lock_guard lock(mutex_);
        if (const CallEntry* e = find_locked(call))
            key = e->key;
    }
    const auto s = current();
    if (s && !key.empty())
        s->stack->ringing(key);
}

void SipPhone::accept(CallController* call)
{
    std::string key;
    {
        std::lock_guard lock(mutex_);
        if (const CallEntry* e = find_locked(call))
            key = e->key;
    }
    const auto s = current();
    if (!s || key.empty())
        return;
    // On the call thread, after the media addresses it is still finding for
    // this call: the answer's session description and the call's media
    // port come from them.
    call_thread_.post([this, s, key, shared = call->shared_from_this()] {
        {
            std::lock_guard lock(mutex_);
            if (!find_locked(shared.get()))
                return; // hung up meanwhile
        }
        s->stack->accept(key);
        // The caller's media are known from the INVITE: they start at once.
        shared->connected(shared->sipMedia());
    });
}

void SipPhone::reject(CallController* call)
{
    hangUp(call);
}

void SipPhone::hangUp(CallController* call)
{
    const CallEntry taken = take(call);
    const auto s = current();
    if (s && !taken.key.empty())
        s->stack->hangup(taken.key);
}

void SipPhone::on_call_event(int code, const SipCall& sip)
{
    if (code == kSipIncomingCall)
        return on_incoming_call(sip);
    {
        std::lock_guard lock(mutex_);
        const CallEntry* e = find_locked(sip.call_key);
        if (e ? sip.call_key == replaying_ : placing_) {
            if (held_.size() < kMaxHeldEvents)
                held_.emplace_back(code, sip);
            return;
        }
    }
    dispatch(code, sip);
}

void SipPhone::dispatch(int code, const SipCall& sip)
{
    std::shared_ptr<CallController> call;
    {
        std::lock_guard lock(mutex_);
        if (const CallEntry* e = find_locked(sip.call_key))
            call = e->call;
    }
    if (!call)
        return; // hung up here, or not ours
    switch (code) {
    case kSipRemoteRinging:
        return call->ringing();
    case kSipCallAnswered:
        return call->connected(media_of(sip));
    case kSipEarlyMedia:
        return call->earlyMedia(media_of(sip));
    case kSipProxyAuth:
        return call->stopAudio();
    case kSipRedirected:
        if (sip.redirect_host)
            call->setRemoteMediaAddress(*sip.redirect_host);
        return;
    case kSipCallEnded:
        if (take(call.get()).call)
            call->ended(LoadResourceString(callEndText(sip.end_reason)));
        return;
    default:
        return;
    }
}

void SipPhone::on_incoming_call(const SipCall& sip)
{
    const auto s = current();
    if (!s || sip.call_key.empty())
        return;
    auto call = std::make_shared<CallController>(app_.callEnvironment(), this, true);
    bool taken = false, ours = false;
    {
        std::lock_guard lock(mutex_);
        ours = std::find(keys_.begin(), keys_.end(), sip.call_key) != keys_.end();
        const bool from_self = !user_.empty() && sip.remote_user.find(user_) != std::string::npos;
        if (!ours && calls_.empty() && !from_self) {
            keys_.push_back(sip.call_key);
            calls_.push_back({call, sip.call_key});
            taken = true;
        }
    }
    if (!taken) {
        // A repeated INVITE of a call in progress is left to that call.
        if (!ours)
            s->stack->hangup(sip.call_key);
        return;
    }
    call->setSipMedia(media_of(sip));
    call->incoming(sip.remote_user);
    call_thread_.post([this, s, call] { discover(*s->stack, *call); });
}

} // namespace vokar
