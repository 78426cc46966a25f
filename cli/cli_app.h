#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/line_io.h"
#include "core/controller_ui.h"
#include "core/program.h"
#include "platform/audio_device.h"
#include "platform/operator_config.h"
#include "platform/window.h"
#include "webapi/account_web_api.h"

namespace vokar::cli {

// The headless client: the core's Program with a user interface that writes
// what the core shows as JSON lines and takes its commands from text lines.
//
// The thread that calls run() is the program's GUI thread: it runs a message
// pump for the network monitor's messages, the commands and the echo's own
// actions. What the core shows arrives on any thread and is written out at
// once (through the output's own thread), never waiting for the GUI thread.
class CliApp final : public ControllerUi, public WebRequestUi {
public:
    struct Setup {
        platform::OperatorConfig config;
        std::string data_dir; // ends with '/'
        std::string user, password;
        // The echo service: accepts every friend request, sends every chat
        // message back and answers every call as it rings, with its own
        // sound devices that send back what they hear a second later.
        bool echo = false;
        // Not for the echo.
        std::function<std::unique_ptr<platform::AudioDevices>()> make_audio_devices;
    };

    CliApp(Setup setup, LineOutput& out);
    ~CliApp() override;
    CliApp(const CliApp&) = delete;
    CliApp& operator=(const CliApp&) = delete;

    // Logs in once the network is up, then handles the lines of `in` until
    // quit or the end of the input; logs out of both services and returns
    // the exit code.
    int run(std::FILE* in);

    // ControllerUi.
    intptr_t send_message(MessageCode code, uintptr_t wparam) override;
    void post_message(MessageCode code, uintptr_t wparam) override;
    void show_progress(StringId text) override;
    void show_message(StringId text, StringId title) override;
    void show_message(const std::wstring& text, StringId title) override;
    void show_main_screen() override;
    void ask_import_accounts() override {}
    bool progress_screen_current() override { return false; }
    void show_new_version(const JabberEvent& event) override;
    void show_network_check(bool checking) override;
    void chat_received(const std::string& from, const std::string& text) override;
    void presence_received(const PresenceUpdate& update) override;

    // WebRequestUi.
    void show_progress(const std::wstring& text, std::function<void(int)> on_key) override;
    void hide_progress() override {}
    void show_message(const std::wstring& text, bool error, MessagePlacement placement) override;

private:
    struct Inbox;
    struct CallEntry {
        int id = 0;
        std::shared_ptr<CallController> call;
        std::string shown; // the state last written
        bool answered = false;
    };

    // GUI thread.
    std::optional<intptr_t> on_window_message(const platform::Message& message);
    void log_in_when_connected();
    void handle_line(const std::string& line);
    void execute(const Command& command);
    void quit();
    void shut_down();
    // The echo answers every incoming call that rings, once.
    void answer_ringing_calls();
    // Looks for calls to answer a moment from now (any thread).
    void schedule_answer();
    // Runs `task` on the GUI thread; dropped once the pump has stopped.
    void post_task(std::function<void()> task);

    // Any thread.
    void emit(const std::string& json) { out_.line(json); }
    void on_core_message(MessageCode code, uintptr_t wparam);
    void on_call_message(MessageCode code, CallController* call);
    // Writes the call's state once per change.
    void show_call(CallEntry& entry, const std::string& state);
    void check_ready();
    void unregistered();

    // The call with `id`, else (0) the newest call not ended; null when none.
    std::shared_ptr<CallController> find_call(int id, std::string* error);
    int call_id(const CallController* call);
    // A number or user as a bare JID of the service; a JID as given.
    std::string jid_of(const std::string& address) const;

    LineOutput& out_;
    const Setup setup_;
    platform::MessagePump pump_;
    platform::Window window_;
    std::shared_ptr<Inbox> inbox_;
    std::unique_ptr<Program> program_;
    std::unique_ptr<AccountWebApi> web_;
    bool login_started_ = false; // GUI thread
    bool quitting_ = false;      // GUI thread

    std::mutex mutex_; // the fields below
    std::deque<std::function<void()>> tasks_;
    std::vector<CallEntry> calls_;
    int next_call_id_ = 1;
    std::set<std::string> contacts_; // every JID roster and presence named
    bool sip_ready_ = false, xmpp_ready_ = false, ready_shown_ = false;
    bool unregistered_ = false;
    std::condition_variable unregister_done_;
};

} // namespace vokar::cli
