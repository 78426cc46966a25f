#include "cli/cli_app.h"

#include <chrono>
#include <thread>

#include "base/messages.h"
#include "base/strings.h"
#include "cli/echo_audio.h"
#include "cli/json.h"
#include "core/call_controller.h"
#include "media/key_tone_player.h"
#include "platform/text.h"
#include "xmpp/jabber_event.h"

namespace vokar::cli {
namespace {

using platform::to_utf8;
using platform::to_wide;

// The headless client's own window messages (beside the monitor's).
enum class CliMessage : uint32_t {
    RunTasks = 0x8001, // tasks queued for the GUI thread
    Input = 0x8002,    // lines (or the end) of the command input
};

constexpr size_t kMaxCommandLine = 64 * 1024;
// Lines read ahead of the GUI thread.
constexpr size_t kMaxQueuedLines = 256;
// How long quitting waits for the SIP unregistration's outcome.
constexpr auto kUnregisterLimit = std::chrono::seconds(5);
// Ended calls kept (so their late messages are recognised) before the oldest go.
constexpr size_t kKeptEndedCalls = 16;
// How long the echo lets a call ring before it answers.
constexpr uint32_t kAnswerDelayMs = 300;

const char* status_name(int status)
{
    switch (status) {
    case kStatusPending:
        return "pending";
    case kStatusAvailable:
        return "online";
    case kStatusAway:
        return "away";
    case kStatusBusy:
        return "busy";
    case kStatusRequested:
        return "requested";
    default:
        return "offline";
    }
}

std::string user_of(const std::string& jid)
{
    return jid.substr(0, jid.find('@'));
}

} // namespace

// Lines the stdin reader hands to the GUI thread. Shared with the reader,
// which may still be blocked in a read when the program ends.
struct CliApp::Inbox {
    std::mutex mutex;
    std::condition_variable room; // the GUI thread took the lines
    std::deque<LineSplitter::Line> lines;
    bool ended = false;
    platform::Window window;
};

CliApp::CliApp(Setup setup, LineOutput& out)
    : out_(out), setup_(std::move(setup)), inbox_(std::make_shared<Inbox>())
{
    std::function<std::unique_ptr<platform::AudioDevices>()> audio = setup_.make_audio_devices;
    if (setup_.echo)
        audio = [] { return std::make_unique<EchoDevices>(); };
    window_ = pump_.create_window([this](const platform::Message& m) -> intptr_t {
        return on_window_message(m).value_or(0);
    });
    inbox_->window = window_;
    program_ = std::make_unique<Program>(Program::Options{
        .config = setup_.config,
        .settings_path = setup_.data_dir + "__settings",
        .ui = *this,
        .adapters = nullptr,
        .pinger = nullptr,
        .make_stack = {},
        .request_dialing_prefix = {},
        .terminate = [this] { unregistered(); },
        .make_audio_devices = std::move(audio),
    });
    web_ = std::make_unique<AccountWebApi>(program_->settings(), program_->config(),
                                           bearer_of(program_->monitor()), this);
    program_->monitor().add_window(window_);
}

CliApp::~CliApp()
{
    shut_down();
}

int CliApp::run(std::FILE* in)
{
    // The reader owns a share of the inbox: at exit it may still wait for a
    // line that never comes, so it is left behind rather than joined.
    std::thread([inbox = inbox_, in] {
        LineSplitter splitter(kMaxCommandLine);
        auto hand_over = [&](std::optional<LineSplitter::Line> line, bool ended) {
            {
                // Input that comes faster than it is handled waits in the pipe.
                std::unique_lock lock(inbox->mutex);
                inbox->room.wait(lock, [&] { return inbox->lines.size() < kMaxQueuedLines; });
                if (line)
                    inbox->lines.push_back(std::move(*line));
                inbox->ended = ended;
            }
            platform::post_message(inbox->window, static_cast<uint32_t>(CliMessage::Input));
        };
        int c;
        while ((c = std::fgetc(in)) != EOF) {
            if (auto line = splitter.feed(static_cast<char>(c)))
                hand_over(std::move(line), false);
        }
        hand_over(splitter.finish(), true);
    }).detach();

    program_->start();
    log_in_when_connected();
    pump_.run();
    shut_down();
    return 0;
}

void CliApp::shut_down()
{
    pump_.quit();
    if (!program_)
        return;
    // Unregister and wait (bounded) for its outcome, so that the registrar
    // knows at once that this client is gone.
    if (program_->sip().sipLoggedIn()) {
        program_->sip().logout();
        std::unique_lock lock(mutex_);
        unregister_done_.wait_for(lock, kUnregisterLimit, [this] { return unregistered_; });
    }
    program_->app().logout();
    web_.reset();
    std::vector<CallEntry> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(calls_);
    }
    for (auto& entry : calls)
        if (entry.call->state() != CallController::kEnded)
            entry.call->hangUp();
    calls.clear();
    program_.reset();
}

void CliApp::unregistered()
{
    {
        std::lock_guard lock(mutex_);
        unregistered_ = true;
    }
    unregister_done_.notify_all();
}

// ---- GUI thread

std::optional<intptr_t> CliApp::on_window_message(const platform::Message& message)
{
    switch (message.code) {
    case static_cast<uint32_t>(CliMessage::RunTasks): {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            if (!quitting_)
                task();
        return 0;
    }
    case static_cast<uint32_t>(CliMessage::Input): {
        std::deque<LineSplitter::Line> lines;
        bool ended;
        {
            std::lock_guard lock(inbox_->mutex);
            lines.swap(inbox_->lines);
            ended = inbox_->ended;
        }
        inbox_->room.notify_all();
        for (const auto& line : lines) {
            if (quitting_)
                break;
            if (line.overlong)
                emit(JsonObject().add("error", "command line too long").str());
            else
                handle_line(line.text);
        }
        if (ended)
            quit();
        return 0;
    }
    }
    const auto code = static_cast<MessageCode>(message.code);
    if (code == MessageCode::BearerLabelChanged) {
        log_in_when_connected();
        return 0;
    }
    if (program_->on_bearer_message(code, login_started_))
        return 0;
    return std::nullopt;
}

void CliApp::log_in_when_connected()
{
    if (login_started_ || !program_->monitor().connected())
        return;
    login_started_ = true;
    program_->settings().update([this](Settings& s) {
        s.username = to_wide(setup_.user);
        s.password = to_wide(setup_.password);
    });
    program_->settings().save_soon();
    program_->sip().login(setup_.user, setup_.password);
    program_->app().login(setup_.user, setup_.password);
}

void CliApp::post_task(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    platform::post_message(window_, static_cast<uint32_t>(CliMessage::RunTasks));
}

void CliApp::quit()
{
    quitting_ = true;
    pump_.quit();
}

void CliApp::handle_line(const std::string& line)
{
    if (is_blank(line))
        return;
    const ParsedCommand parsed = parse_command(line);
    if (!parsed.command) {
        emit(JsonObject().add("error", parsed.error).str());
        return;
    }
    execute(*parsed.command);
}

std::string CliApp::jid_of(const std::string& address) const
{
    if (address.find('@') != std::string::npos)
        return address;
    return address + "@" + setup_.config.service_domain;
}

void CliApp::execute(const Command& command)
{
    AppController& app = program_->app();
    auto ok = [&](const char* verb) { return JsonObject().add("ok", verb); };
    auto error = [&](const std::string& text) { emit(JsonObject().add("error", text).str()); };
    const bool needs_xmpp = command.verb == Verb::Chat || command.verb == Verb::Add ||
                            command.verb == Verb::Accept || command.verb == Verb::Status ||
                            command.verb == Verb::Holler;
    if (needs_xmpp && !app.loggedIn())
        return error("not logged in to the messaging service");

    switch (command.verb) {
    case Verb::Friends: {
        std::set<std::string> jids;
        {
            std::lock_guard lock(mutex_);
            jids = contacts_;
        }
        std::vector<std::string> list;
        for (const auto& jid : jids) {
            const auto f = program_->friends().find(to_wide(jid));
            if (!f)
                continue;
            list.push_back(JsonObject()
                               .add("jid", jid)
                               .add("name", f->name)
                               .add("status", status_name(f->status))
                               .add("text", f->status_text)
                               .str());
        }
        return emit(ok("friends").add_raw("friends", json_array(list)).str());
    }
    case Verb::Chat:
        app.sendMessage(jid_of(command.target), command.text);
        return emit(ok("chat").str());
    case Verb::Add: {
        const std::wstring jid = to_wide(jid_of(command.target));
        app.addFriend(program_->friends().network_of(jid), jid, to_wide(user_of(command.target)),
                      L"");
        return emit(ok("add").str());
    }
    case Verb::Accept: {
        const std::wstring jid = to_wide(jid_of(command.target));
        const auto f = program_->friends().find(jid);
        app.acceptFriend(jid, f ? f->name : to_wide(user_of(command.target)), L"");
        return emit(ok("accept").str());
    }
    case Verb::Status: {
        const int status = command.target == "online" ? kStatusAvailable
                           : command.target == "away" ? kStatusAway
                                                      : kStatusBusy;
        app.setStatus(status);
        if (!command.text.empty())
            app.setStatusText(to_wide(command.text));
        return emit(ok("status").str());
    }
    case Verb::Holler:
        app.hollerFriend(to_wide(jid_of(command.target)));
        return emit(ok("holler").str());
    case Verb::Call: {
        std::string number = command.target;
        const size_t at = number.find('@');
        if (at != std::string::npos) {
            if (number.substr(at + 1) != setup_.config.service_domain)
                return error("calls go to numbers and to users of " + setup_.config.service_domain);
            number.resize(at);
        }
        const auto call = app.makeCall(to_wide(number));
        return emit(ok("call").add("id", call_id(call.get())).str());
    }
    case Verb::Answer:
    case Verb::Reject:
    case Verb::Hangup: {
        std::string why;
        const auto call = find_call(command.call_id, &why);
        if (!call)
            return error(why);
        const int id = call_id(call.get());
        if (command.verb == Verb::Answer) {
            if (!call->isIncoming() || call->state() != CallController::kAlerting)
                return error("call " + std::to_string(id) + " is not ringing here");
            call->answer();
            return emit(ok("answer").add("id", id).str());
        }
        if (command.verb == Verb::Reject) {
            if (!call->isIncoming())
                return error("call " + std::to_string(id) + " is not an incoming call");
            call->reject();
        } else {
            call->hangUp();
        }
        emit(ok(command.verb == Verb::Reject ? "reject" : "hangup").add("id", id).str());
        // A rejected call tells no screen that it ended.
        on_call_message(MessageCode::CallOver, call.get());
        return;
    }
    case Verb::Keys: {
        std::string why;
        const auto call = find_call(0, &why);
        if (!call)
            return error(why);
        if (call->state() != CallController::kTalking)
            return error("no call is connected");
        for (const char key : command.target) {
            // '*' plays no tone.
            if (key >= '0' && key <= '9')
                call->playKeyTone(key - '0');
            else if (key == '#')
                call->playKeyTone(media::KeyTonePlayer::kToneHash);
        }
        return emit(ok("keys").str());
    }
    case Verb::Sms: {
        if (!program_->sip().sipLoggedIn())
            return error("not logged in");
        const std::string to = command.target;
        web_->send_sms(to_wide(to), to_wide(command.text), [this, to] {
            emit(JsonObject().add("event", "sms").add("to", to).add("state", "sent").str());
        });
        return emit(ok("sms").str());
    }
    case Verb::Balance:
        if (!program_->sip().sipLoggedIn())
            return error("not logged in");
        web_->check_balance();
        return emit(ok("balance").str());
    case Verb::Quit:
        emit(ok("quit").str());
        return quit();
    }
}

// ---- calls

void CliApp::schedule_answer()
{
    program_->reactor().schedule([this] { post_task([this] { answer_ringing_calls(); }); },
                                 kAnswerDelayMs, false);
}

void CliApp::answer_ringing_calls()
{
    std::vector<std::shared_ptr<CallController>> ringing;
    bool not_yet = false;
    {
        std::lock_guard lock(mutex_);
        for (auto& entry : calls_) {
            if (entry.answered || !entry.call->isIncoming())
                continue;
            const auto state = entry.call->state();
            if (state == CallController::kAlerting) {
                entry.answered = true;
                ringing.push_back(entry.call);
            }
            not_yet = not_yet || state == CallController::kNew;
        }
    }
    for (const auto& call : ringing)
        call->answer();
    // A call that has not started to ring yet is looked at again later.
    if (not_yet)
        schedule_answer();
}

std::shared_ptr<CallController> CliApp::find_call(int id, std::string* error)
{
    std::lock_guard lock(mutex_);
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (id != 0 && it->id == id && it->shown == "ended") {
            *error = "call " + std::to_string(id) + " has ended";
            return nullptr;
        }
        if (id != 0 ? it->id == id : it->shown != "ended")
            return it->call;
    }
    *error = id != 0 ? "no call " + std::to_string(id) : "no call";
    return nullptr;
}

int CliApp::call_id(const CallController* call)
{
    std::lock_guard lock(mutex_);
    for (const auto& entry : calls_)
        if (entry.call.get() == call)
            return entry.id;
    return 0;
}

void CliApp::show_call(CallEntry& entry, const std::string& state)
{
    // Lock held.
    if (entry.shown == state || entry.shown == "ended")
        return;
    entry.shown = state;
    JsonObject line;
    line.add("event", "call").add("id", entry.id).add("state", state);
    if (state == "calling" || state == "incoming")
        line.add("number", entry.call->number());
    if (state == "ended") {
        std::wstring text = entry.call->statusText();
        if (text.empty())
            text = LoadResourceString(StringId::CALL_ENDED);
        line.add("text", text);
    }
    emit(line.str());
}

void CliApp::on_call_message(MessageCode code, CallController* call)
{
    if (!call)
        return;
    bool ringing_here = false;
    {
        std::lock_guard lock(mutex_);
        CallEntry* entry = nullptr;
        for (auto& e : calls_)
            if (e.call.get() == call)
                entry = &e;
        if (!entry) {
            if (code != MessageCode::CallCreated && code != MessageCode::CallIncoming)
                return; // a call this client has already let go
            // The call is held here, as a screen holds the call it shows.
            calls_.push_back({next_call_id_++, call->shared_from_this(), {}});
            entry = &calls_.back();
        }
        switch (code) {
        case MessageCode::CallCreated:
            show_call(*entry, "calling");
            break;
        case MessageCode::CallIncoming:
            show_call(*entry, "incoming");
            ringing_here = setup_.echo;
            break;
        case MessageCode::CallConnected:
            show_call(*entry, "connected");
            break;
        case MessageCode::CallMissed:
            show_call(*entry, "missed");
            break;
        case MessageCode::CallChanged:
        case MessageCode::CallOver:
            switch (call->state()) {
            case CallController::kAlerting:
                if (!call->isIncoming())
                    show_call(*entry, "ringing");
                break;
            case CallController::kTalking:
                show_call(*entry, "connected");
                break;
            case CallController::kEnded:
                show_call(*entry, "ended");
                break;
            case CallController::kNew:
                break;
            }
            break;
        default:
            break;
        }
        // Ended calls are let go, the oldest first, beyond a few.
        size_t ended = 0;
        for (const auto& e : calls_)
            ended += e.shown == "ended";
        for (auto it = calls_.begin(); ended > kKeptEndedCalls && it != calls_.end();) {
            if (it->shown == "ended" && it->call.get() != call) {
                it = calls_.erase(it);
                --ended;
            } else {
                ++it;
            }
        }
    }
    // The call alerts (and tells the caller it rings) just after this
    // message; the echo answers once that is done, as a person would.
    if (ringing_here)
        schedule_answer();
}

// ---- what the core shows (any thread)

intptr_t CliApp::send_message(MessageCode code, uintptr_t wparam)
{
    on_core_message(code, wparam);
    return 0;
}

void CliApp::post_message(MessageCode code, uintptr_t wparam)
{
    on_core_message(code, wparam);
}

void CliApp::on_core_message(MessageCode code, uintptr_t wparam)
{
    switch (code) {
    case MessageCode::CallCreated:
    case MessageCode::CallIncoming:
    case MessageCode::CallChanged:
    case MessageCode::CallConnected:
    case MessageCode::CallMissed:
    case MessageCode::CallOver:
        return on_call_message(code, reinterpret_cast<CallController*>(wparam));
    case MessageCode::ServiceMessage:
        return emit(JsonObject()
                        .add("event", "message")
                        .add("from", setup_.config.service_domain)
                        .add("text", *reinterpret_cast<const std::string*>(wparam))
                        .str());
    case MessageCode::HollerFriendOnline:
        return emit(JsonObject()
                        .add("event", "holler")
                        .add("kind", "online")
                        .add("name", *reinterpret_cast<const std::wstring*>(wparam))
                        .str());
    case MessageCode::HollersRetrieved:
        for (const auto& from : *reinterpret_cast<const std::vector<std::string>*>(wparam))
            emit(JsonObject()
                     .add("event", "holler")
                     .add("kind", "received")
                     .add("from", from)
                     .str());
        return;
    case MessageCode::HollerAnswered:
        return emit(JsonObject()
                        .add("event", "holler")
                        .add("kind", "answer")
                        .add("text", *reinterpret_cast<const std::string*>(wparam))
                        .str());
    case MessageCode::FriendRequestAccepted:
        return show_message(StringId::FRIEND_REQUEST_ACCEPTED, StringId::APP_NAME);
    case MessageCode::FriendRequestRejected:
        return show_message(StringId::FRIEND_REQUEST_REJECTED, StringId::APP_NAME);
    case MessageCode::GatewayMessageFailed:
        if (wparam == 0) {
            // The roster has loaded: the messaging login is complete.
            {
                std::lock_guard lock(mutex_);
                xmpp_ready_ = true;
            }
            return check_ready();
        }
        return emit(JsonObject()
                        .add("event", "error")
                        .add("text", "the message was not delivered")
                        .add("jid", reinterpret_cast<const JabberEvent*>(wparam)->jid)
                        .str());
    default:
        return;
    }
}

void CliApp::show_main_screen()
{
    {
        std::lock_guard lock(mutex_);
        sip_ready_ = true;
    }
    check_ready();
}

void CliApp::check_ready()
{
    {
        std::lock_guard lock(mutex_);
        if (ready_shown_ || !sip_ready_ || !xmpp_ready_)
            return;
        ready_shown_ = true;
    }
    emit(JsonObject()
             .add("ready", true)
             .add("user", setup_.user)
             .add("jid", setup_.user + "@" + setup_.config.service_domain)
             .add("echo", setup_.echo)
             .str());
}

void CliApp::show_progress(StringId text)
{
    emit(JsonObject().add("event", "progress").add("text", LoadResourceString(text)).str());
}

void CliApp::show_message(StringId text, StringId title)
{
    show_message(LoadResourceString(text), title);
}

void CliApp::show_message(const std::wstring& text, StringId title)
{
    emit(JsonObject()
             .add("event", "message")
             .add("text", text)
             .add("error", title == StringId::ERROR_TITLE)
             .str());
}

void CliApp::show_new_version(const JabberEvent& event)
{
    emit(JsonObject()
             .add("event", "new_version")
             .add("text", event.update_message)
             .add("url", event.update_url)
             .add("forced", event.force_update)
             .str());
}

void CliApp::show_network_check(bool checking)
{
    emit(JsonObject().add("event", "network_check").add("running", checking).str());
}

void CliApp::chat_received(const std::string& from, const std::string& text)
{
    emit(JsonObject().add("event", "chat").add("from", from).add("text", text).str());
    if (setup_.echo && !text.empty())
        post_task([this, from, text] { program_->app().sendMessage(from, text); });
}

void CliApp::presence_received(const PresenceUpdate& update)
{
    if (update.removed) {
        {
            std::lock_guard lock(mutex_);
            contacts_.erase(update.jid);
        }
        return emit(JsonObject().add("event", "friend_removed").add("jid", update.jid).str());
    }
    {
        std::lock_guard lock(mutex_);
        contacts_.insert(update.jid);
    }
    // A subscription request from someone not in the roster.
    if (!update.in_roster && update.status == kStatusPending) {
        emit(JsonObject().add("event", "friend_request").add("from", update.jid).str());
        if (setup_.echo) {
            post_task([this, jid = update.jid] {
                program_->app().acceptFriend(to_wide(jid), to_wide(user_of(jid)), L"");
            });
        }
        return;
    }
    JsonObject line;
    line.add("event", "presence").add("jid", update.jid).add("status", status_name(update.status));
    if (!update.status_text.empty())
        line.add("text", update.status_text);
    if (update.in_roster)
        line.add("name", update.name);
    emit(line.str());
}

void CliApp::show_progress(const std::wstring& text, std::function<void(int)>)
{
    emit(JsonObject().add("event", "progress").add("text", text).str());
}

void CliApp::show_message(const std::wstring& text, bool error, MessagePlacement)
{
    emit(JsonObject().add("event", "message").add("text", text).add("error", error).str());
}

} // namespace vokar::cli
