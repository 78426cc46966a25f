#include "core/sip_phone.h"

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
    default:
        // Call events come with the call controller.
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

// ---- calls: the call controller brings them

void SipPhone::placeCall(CallController* /*call*/) {}
void SipPhone::ringing(CallController* /*call*/) {}
void SipPhone::accept(CallController* /*call*/) {}
void SipPhone::reject(CallController* /*call*/) {}
void SipPhone::hangUp(CallController* /*call*/) {}

} // namespace vokar
