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
#include "core/friends_model.h"
#include "core/phone_interface.h"
#include "core/worker_thread.h"
#include "platform/clock.h"
#include "platform/operator_config.h"
#include "xmpp/jabber_client.h"
#include "xmpp/jabber_event.h"

namespace vokar {

class DisposalQueue;
class Reactor;
namespace test {
struct ControllerEvents;
}
class SettingsStore;
class SipPhone;

// Sits between the screens and the XMPP client: logs in with the credentials
// the login screen gives, reconnects with back-off when the connection fails,
// turns the client's events into friends-model updates and window messages,
// and forwards the user's friend, presence and Holler actions to the client.
//
// Threads: screen operations run on the GUI thread; events arrive on the
// connection's receive thread. Connecting and the reconnect routine (with
// its back-off waits) run on the controller's own worker thread, and a
// dropped client is freed by the disposal queue 500 ms later, once no other
// thread holds it; neither ever runs on the GUI or a receive thread.
class AppController : public PhoneInterface {
public:
    using ClientFactory = std::function<std::unique_ptr<JabberClient>(
        const std::string& domain, const std::string& os, const std::string& version)>;

    struct Services {
        SettingsStore& settings;
        const Bearer& bearer;
        ControllerUi& ui;
        platform::Clock& clock;  // back-off waits, polling
        DisposalQueue& disposal; // frees dropped clients
        ClientFactory make_client;
        ConnectionFactory make_connection;
    };

    struct Config {
        std::string service_domain = "vokar.test";
        std::wstring web_host_name = L"www.vokar.test";
        // Names a number from the device's contacts; empty when unknown.
        std::function<std::wstring(const std::wstring& number)> contact_name;
        // What calls of both phones use (audio, call log, address discovery).
        CallSetup calls;
    };

    static constexpr const char* kOs = "wm";
    static constexpr const char* kVersion = "2.2";
    static constexpr uint16_t kLocalPort = 5098;
    static constexpr uint32_t kDisposeDelayMs = 500;
    static constexpr uint32_t kProgressPollMs = 200;
    // Reconnect error code for a login the server refused.
    static constexpr int kLoginRefused = 4;

    AppController(Services services, Config config);
    // Stops the worker, hands the client to the disposal queue and waits until
    // every client it created is freed. Their threads may be inside a sent
    // window message, so destroy the controller off the GUI thread or after
    // its pump has stopped.
    ~AppController() override;
    AppController(const AppController&) = delete;
    AppController& operator=(const AppController&) = delete;

    // Real clients on `reactor`, with the operator's names.
    static ClientFactory client_factory(Reactor& reactor, const platform::OperatorConfig& config);

    // PhoneInterface. login: without a client, keeps the credentials and,
    // when a bearer is up, connects; with one, asks it to authenticate.
    void login(const std::string& user, const std::string& password) override;
    // Logs the client out, closes its connection, empties the friends model
    // and ignores every later event until the next login.
    void logout() override;
    // Calls between users of the service, over Jingle. At most one call
    // and one session are current; the call moves to the SIP phone when the
    // peer cannot take a Jingle call. Each operation acts on the current
    // call only; hangUp and reject end its session (exactly once, whichever
    // of them or the peer's end comes first) and forget the call.
    void placeCall(CallController* call) override;
    void ringing(CallController* call) override;
    void accept(CallController* call) override;
    void reject(CallController* call) override;
    void hangUp(CallController* call) override;

    // An outgoing call created by the screens: the number normalised and
    // named, written to the call log, CallCreated sent, then placed here.
    std::shared_ptr<CallController> makeCall(const std::wstring& number);
    const CallEnvironment& callEnvironment() const { return calls_; }
    // The current call, if any.
    std::shared_ptr<CallController> currentCall();

    // Frees the client 500 ms from now and forgets it.
    void drop();
    // The bearer is back (BearerAvailable): the SIP phone logs in again, and the
    // client is dropped and logs in again, with the stored credentials.
    void bearerAvailable();
    // The bearer is gone (BearerLost): every friend goes offline and both
    // phones are dropped.
    void bearerLost();
    // The SIP phone that the bearer operations also drive (set by SipPhone).
    void attachSipPhone(SipPhone* phone);

    // Screen operations; each does nothing without a client.
    void acceptFriend(const std::wstring& jid, const std::wstring& name, const std::wstring& group);
    void rejectFriend(const std::wstring& jid);
    void removeFriend(const std::wstring& jid);
    void renameFriend(const std::wstring& jid, const std::wstring& name);
    void addFriend(int network, const std::wstring& jid, const std::wstring& name,
                   const std::wstring& group);
    // Sends a Holler; the user is told when that friend comes online.
    void hollerFriend(const std::wstring& jid);
    // Stores the text in the settings, saves them and publishes it.
    void setStatusText(const std::wstring& text);
    void setStatus(int status);
    void sendMessage(const std::string& to, const std::string& body);
    void registerGateway(int network, const std::string& user, const std::string& password);
    void unregisterGateway(int network);
    void setHollerAllowed(bool allowed);

    // The import question of a first login is asked once: true (and the
    // settings flag cleared) when it is still due and this controller is
    // logged in.
    bool takeImportQuestionIfLoggedIn();

    FriendsModel& friends() { return friends_; }
    bool connected() const { return connected_; }
    bool loggedIn() const { return logged_in_; }
    bool loginPending() const { return login_pending_; }
    std::vector<int> gateways();

private:
    struct Session;
    // Tests raise events as the current client would.
    friend struct test::ControllerEvents;

    std::shared_ptr<Session> session();
    // The current client's generation; 0 (never current) without one.
    uint64_t session_generation();
    void session_freed();
    void on_session_event(uint64_t generation, int code, const JabberEvent* event);
    void connect();
    // `server_fault`: the error is the server's own (not the tunnel's), so a
    // route error moves to the next server.
    void schedule_reconnect(uint64_t generation, int error, bool server_fault = true);
    void reconnect(uint64_t generation, int error, bool server_fault);
    void dispose(std::shared_ptr<Session> session);
    void register_payload_types(JabberClient& client);
    // One handler per event of the current client.
    void on_chat_message(const JabberEvent* event);
    void on_presence_updates(const JabberEvent* event);
    void on_authentication(uint64_t generation, const JabberEvent* event);
    void on_connected();
    void on_disconnected(uint64_t generation, const JabberEvent* event);
    void on_transport(const JabberEvent* event);
    void on_hollers(const JabberEvent* event);
    void on_roster_loaded();
    void on_holler_answer(const JabberEvent* event);
    void on_message_error(const JabberEvent* event);
    void on_new_version(const JabberEvent* event);
    // Call events of the current session.
    void on_call_impossible(const JabberEvent* event);
    void on_peer_ringing(const JabberEvent* event);
    void on_call_accepted(const JabberEvent* event);
    void on_call_ended(const JabberEvent* event);
    void on_incoming_call(const JabberEvent* event);
    void on_jingle_error(const JabberEvent* event);
    // Runs on the call worker.
    void start_jingle_call(const std::shared_ptr<CallController>& call);
    // The call goes out over SIP instead; false when it had already ended.
    void move_to_sip(const std::shared_ptr<CallController>& call);
    // Takes the current call and session if `call` is current (null: any).
    std::pair<std::shared_ptr<CallController>, std::shared_ptr<JingleSession>>
    take_call(const CallController* call);
    std::vector<TransportAddress> discover_jingle_addresses(CallController& call);
    // Waits on the clock in short steps; false when the wait was cut short
    // because the client it was for is gone.
    bool back_off(uint64_t generation, uint32_t ms);
    bool is_current(uint64_t generation);
    static uint32_t backoff_ms(int retry_count);
    static bool advances_server_list(int error);

    SettingsStore& settings_;
    const Bearer& bearer_;
    ControllerUi& ui_;
    platform::Clock& clock_;
    DisposalQueue& disposal_;
    const ClientFactory make_client_;
    const ConnectionFactory make_connection_;
    const std::string service_domain_;
    FriendsModel friends_;
    const CallEnvironment calls_;

    std::mutex mutex_; // everything below that is not atomic
    std::shared_ptr<Session> session_;
    uint64_t next_generation_ = 0;
    bool connect_queued_ = false;
    std::string user_, password_;
    std::vector<std::wstring> notify_online_; // hollered friends' bare JIDs
    std::vector<int> gateways_;
    int retry_count_ = 0;
    int live_sessions_ = 0; // not yet freed by the disposal queue
    std::condition_variable sessions_freed_;
    SipPhone* sip_phone_ = nullptr;
    std::shared_ptr<CallController> call_;     // the current call
    std::shared_ptr<JingleSession> jingle_;    // and its session
    const CallController* starting_ = nullptr; // the call inside startCall

    std::atomic<bool> connected_{false};
    std::atomic<bool> login_pending_{false};
    std::atomic<bool> logged_in_{false};
    std::atomic<bool> closing_{false};

    // Declared last: they stop before the rest goes.
    WorkerThread worker_;
    WorkerThread screen_worker_; // waits for screens (the new-version notice)
    WorkerThread call_worker_;   // places calls, discovers addresses, accepts
};

} // namespace vokar
