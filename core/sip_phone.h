#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/bearer.h"
#include "core/call_controller.h"
#include "core/controller_ui.h"
#include "core/phone_interface.h"
#include "core/worker_thread.h"
#include "net/network_monitor.h"
#include "sip/sip_stack.h"

namespace vokar {

class AppController;
class DisposalQueue;
class SettingsStore;

// The SIP side of the client: registers the account with the operator's SIP
// servers and (with the call controller) signals calls to any number.
//
// It answers the NetworkMonitor's login-state questions and, for as long as
// it lives, tells the server lists whether the SIP login (kSipList) and the
// XMPP connection (kXmppList) are up. Registration outcomes arrive on the
// stack's threads; a replaced stack is freed by the disposal queue.
class SipPhone : public PhoneInterface, public SipListener, public LoginState {
public:
    using StackFactory =
        std::function<std::unique_ptr<SipStackInterface>(const std::string& domain)>;

    struct Services {
        SettingsStore& settings;
        const Bearer& bearer;
        ControllerUi& ui;
        AppController& app;
        DisposalQueue& disposal; // frees replaced stacks
        StackFactory make_stack;
        ConnectionFactory make_connection;
        // Starts the web request for the dialing prefix.
        std::function<void()> request_dialing_prefix;
        // Ends the program (after an unregistration); never called otherwise.
        std::function<void()> terminate;
    };

    static constexpr uint16_t kLocalPort = 5098;
    static constexpr int kPayloadGsm = 3;
    static constexpr int kPayloadSpeex = 97;

    // Attaches itself to the AppController (for the bearer operations).
    explicit SipPhone(Services services);
    // Hands the stack to the disposal queue and waits until every stack it
    // created is freed: like the AppController, destroy it off the GUI thread
    // or after the GUI pump has stopped.
    ~SipPhone() override;
    SipPhone(const SipPhone&) = delete;
    SipPhone& operator=(const SipPhone&) = delete;

    // Replaces any previous stack, stores the credentials in the settings and,
    // with a bearer, shows the progress screen and registers on the login
    // thread; without one, tells the user there is no connection.
    void login(const std::string& user, const std::string& password) override;
    // Unregisters; its outcome ends the program.
    void logout() override;
    // Calls to any number. The phone holds its calls in a list (an
    // incoming call is taken only while the list is empty), each with the
    // stack's key once it has one; hangUp and reject hang up that key and
    // drop the call. placeCall finds the addresses and sends the INVITE on
    // the phone's call thread.
    void placeCall(CallController* call) override;
    void ringing(CallController* call) override;
    void accept(CallController* call) override;
    void reject(CallController* call) override;
    void hangUp(CallController* call) override;

    // Frees the stack (the bearer is gone). The login state is kept, so that
    // the bearer's return logs in again.
    void drop();

    // SipListener: the events of the current stack.
    void on_sip_event(int code, const void* data) override;

    // The text a call ended with for a stack end reason.
    static StringId callEndText(int end_reason);
    size_t callCount();

    // LoginState.
    bool sipLoggedIn() const override { return logged_in_; }
    bool sipLoggedInOrLoggingIn() const override { return logged_in_ || login_in_progress_; }

private:
    struct Stack;

    void start_stack(uint64_t generation);
    void on_stack_event(uint64_t generation, int code, const void* data);
    void on_registration(const SipResult& result);
    std::shared_ptr<Stack> current();
    void stack_freed();
    void dispose(std::shared_ptr<Stack> stack);

    struct CallEntry {
        std::shared_ptr<CallController> call;
        std::string key; // empty until the stack has given one
    };
    void on_call_event(int code, const SipCall& sip);
    // Hands a call event to the call of its key, if it is still ours.
    void dispatch(int code, const SipCall& sip);
    void on_incoming_call(const SipCall& sip);
    // Runs on the call thread.
    void place(const std::shared_ptr<CallController>& call);
    void discover(SipStackInterface& stack, CallController& call);
    // The entry of a call (by pointer or key), or null; under mutex_.
    CallEntry* find_locked(const CallController* call);
    CallEntry* find_locked(const std::string& key);
    // Removes the call's entry and forgets its key.
    CallEntry take(const CallController* call);

    SettingsStore& settings_;
    const Bearer& bearer_;
    ControllerUi& ui_;
    AppController& app_;
    DisposalQueue& disposal_;
    const StackFactory make_stack_;
    const ConnectionFactory make_connection_;
    const std::function<void()> request_dialing_prefix_;
    const std::function<void()> terminate_;

    std::mutex mutex_;
    std::shared_ptr<Stack> stack_;
    uint64_t generation_ = 0; // of the current login
    std::string user_, password_;
    int live_stacks_ = 0; // not yet freed by the disposal queue
    std::condition_variable stacks_freed_;
    std::vector<CallEntry> calls_;
    std::vector<std::string> keys_; // calls in progress
    // The answers to an INVITE can come before the stack has handed its key
    // back: while a call is being placed (placing_), events of unknown keys
    // are held, and those of the new key are then handed on in order before
    // any later one (replaying_ names that key meanwhile).
    static constexpr size_t kMaxHeldEvents = 32;
    bool placing_ = false;
    std::string replaying_;
    std::vector<std::pair<int, SipCall>> held_;

    std::atomic<bool> login_in_progress_{false};
    std::atomic<bool> logged_in_{false};

    // Declared last: they stop before the rest goes.
    WorkerThread login_thread_;
    WorkerThread call_thread_;
};

} // namespace vokar
