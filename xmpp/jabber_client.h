#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/reactor.h"
#include "net/connection_interface.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "xml/xml_node.h"
#include "xmpp/chat_handler.h"
#include "xmpp/gateway_handler.h"
#include "xmpp/jabber_event.h"
#include "xmpp/jingle_manager.h"
#include "xmpp/presence_handler.h"
#include "xmpp/service_iqs.h"
#include "xmpp/session_context.h"

namespace vokar {

// The client's XMPP session. This core runs the stream, SASL DIGEST-MD5,
// binding and session, parses received bytes incrementally into stanzas,
// keeps the pending requests and routes each stanza to its feature handler:
// roster and presence, chat, gateways, the service's own iqs, call signalling.
// Everything the client learns goes to its listeners as numbered events;
// those raised while a received chunk is handled are raised after the
// receiver mutex is released, so a listener may wait for a thread that calls
// into the client.
class JabberClient : public ConnectionListener, public TimerListener, private SessionContext {
public:
    struct Options {
        std::string web_host_name = "www.vokar.test"; // in the status tagline
        std::string gtalk_mail_domain = "gmail.com";
        // Fixed values for tests; random when absent.
        std::optional<uint32_t> first_id;
        std::optional<std::string> resource;
    };

    static constexpr const char* kStreamsNamespace = "http://etherx.jabber.org/streams";
    static constexpr uint32_t kKeepAliveUs = 300000000; // 300 s
    // From connect to the SASL outcome (kEventAuthentication). Past it the
    // connection counts as timed out: kEventDisconnected carries kTimedOut.
    static constexpr uint32_t kLoginDeadlineUs = 30000000; // 30 s
    static constexpr int kTimedOut = platform::kWsaEtimedout;

    JabberClient(std::string domain, std::string os, std::string version, Reactor& reactor,
                 Options options);
    JabberClient(std::string domain, std::string os, std::string version, Reactor& reactor)
        : JabberClient(std::move(domain), std::move(os), std::move(version), reactor, Options())
    {
    }
    // Waits until no thread is inside the client, then closes and frees the
    // connection (which waits for its receive thread).
    ~JabberClient() override;
    JabberClient(const JabberClient&) = delete;
    JabberClient& operator=(const JabberClient&) = delete;

    void addListener(JabberListener* listener);

    // Takes the connection, becomes its listener and opens it; the outcome
    // arrives as kEventConnected or kEventDisconnected. The login deadline
    // starts here.
    bool connect(std::unique_ptr<ConnectionInterface> connection, const std::string& host,
                 uint16_t port, uint16_t local_port);
    // Opens the stream; false (nothing sent) while not connected.
    bool login(const std::string& user, const std::string& password);
    void logout();

    // Roster and presence.
    void addContact(int network, const std::string& jid, const std::string& name,
                    const std::string& group);
    void acceptContact(const std::string& jid, const std::string& name, const std::string& group);
    void renameContact(const std::string& jid, const std::string& name);
    void removeContact(const std::string& jid);
    // Refuses a friend request (and removes the contact if it is in the roster).
    void rejectContact(const std::string& jid);
    void setStatus(int status);
    void setStatusText(const std::string& text);
    bool isRosterLoaded();

    // Chat.
    void sendMessage(const std::string& to, const std::string& body);

    // Gateways.
    void registerGateway(int network, const std::string& user, const std::string& password);
    void unregisterGateway(int network);
    bool isGatewayRegistered(int network);

    // The service's own iqs.
    void sendHoller(const std::string& to);
    void retrieveHollers();
    void setHollerAllowed(bool allowed);

    // Calls between users (Jingle). A session is a handle: operations on a
    // session that has ended do nothing.
    void registerCodec(const PayloadType& codec);
    // Calls the peer's shown resource. Null, after kEventCallImpossible, when
    // that resource does not take calls.
    std::shared_ptr<JingleSession> startCall(const std::string& peer,
                                             const std::vector<TransportAddress>& addresses,
                                             int transport_kind);
    void sendRinging(const std::shared_ptr<JingleSession>& session);
    // Answers an incoming call (once); kEventCallAccepted follows here.
    void accept(const std::shared_ptr<JingleSession>& session);
    void setLocalAddresses(const std::shared_ptr<JingleSession>& session,
                           const std::vector<TransportAddress>& addresses);
    // Ends the session with a JingleCondition; an empty alternative sid
    // sends none.
    void terminate(const std::shared_ptr<JingleSession>& session, int condition,
                   const std::string& alternative_sid = {});
    // What the peer offered or accepted: the payload ids of its first
    // content, and that content's media endpoints.
    std::vector<int32_t> payloadIds(const std::shared_ptr<JingleSession>& session);
    MediaEndpoints mediaEndpoints(const std::shared_ptr<JingleSession>& session);
    size_t sessionCount();

    // ConnectionListener.
    void onReceive(const std::string& message) override;
    void onConnectResult(int status) override;
    // TimerListener: the keep-alive. A stanza that was partial at the
    // previous tick and has received nothing since breaks the stream.
    void onTimer() override;

    const std::string& resource() const { return resource_; }
    std::string domain() override;
    std::string full_jid() override;
    bool authenticated() const { return authenticated_; }
    bool connected() const { return connected_; }
    // The status tagline: "( <web host> - talk for free )".
    const std::string& tagline() const { return tagline_; }

private:
    class CallGuard;
    // Runs `operation` inside a CallGuard; nothing once the client is closing.
    template <typename Operation> void guarded(Operation&& operation);
    struct PendingRequest {
        std::string id;
        std::function<void(const XmlNode& iq)> on_result; // empty: answer dropped
    };

    // SessionContext.
    void raise(int code, const JabberEvent* event) override;
    void raise_now(int code, const JabberEvent* event);
    std::string next_id() override;
    void send(const XmlNode& stanza) override;
    void send_request(XmlNode& iq, std::function<void(const XmlNode&)> on_result) override;
    bool in_session() const override { return in_session_; }

    std::shared_ptr<ConnectionInterface> connection();
    void send_text(const std::string& text);
    void open_stream();

    void dispatch(const XmlNode& element);
    void on_features(const XmlNode& features);
    void on_challenge(const XmlNode& challenge);
    void on_iq(const XmlNode& iq);
    void receive(const std::string& message);
    void answer_disco_info(const XmlNode& iq);

    void bind();
    void start_session();

    // Closes the connection and raises kEventDisconnected, once.
    void break_stream(const JabberEvent* event);
    void on_login_deadline();
    // Marks the SASL outcome; false when the deadline passed first.
    bool login_in_time();
    bool stream_stalled(); // the reactor thread's keep-alive tick only

    class LoginDeadline : public TimerListener {
    public:
        explicit LoginDeadline(JabberClient& client) : client_(client) {}
        void onTimer() override { client_.on_login_deadline(); }

    private:
        JabberClient& client_;
    };

    const Options options_;
    const std::string tagline_;
    const std::string service_domain_; // the transports' domain: as constructed
    std::string resource_;

    // Session state shared by the receive thread and callers.
    std::mutex state_mutex_;
    std::string domain_;
    std::string user_, password_, bare_jid_, full_jid_;
    uint32_t counter_ = 0;
    std::vector<PendingRequest> pending_;

    std::atomic<bool> authenticated_{false};
    std::atomic<bool> in_session_{false};
    std::atomic<bool> connected_{false};

    // The feature handlers.
    PresenceHandler presence_;
    GatewayHandler gateways_;
    ChatHandler chat_;
    ServiceIqs services_;

    // Receiving: one chunk at a time.
    platform::NamedMutex receiver_mutex_;
    JingleManager jingle_;
    // Events raised while a chunk is handled wait here until the receiver
    // mutex is released.
    struct DeferredEvent {
        int code;
        bool has_payload;
        JabberEvent event;
    };
    std::vector<DeferredEvent> deferred_;
    std::atomic<std::thread::id> receiving_thread_{};
    std::unique_ptr<XmlNode> document_;
    bool stanza_started_ = false; // the partial document holds more than white space
    std::atomic<bool> broken_{false};
    // The SASL outcome and the login deadline: whichever comes first wins.
    enum LoginState { kLoginPending, kLoginOver, kLoginTimedOut };
    std::atomic<int> login_state_{kLoginPending};
    // What the keep-alive tick sees of the receive path, and what it saw last.
    std::atomic<uint64_t> received_bytes_{0};
    std::atomic<bool> partial_stanza_{false};
    uint64_t received_at_tick_ = 0;
    bool partial_at_tick_ = false;

    // Held only to read or replace the pointer, never across a send or close.
    std::mutex connection_mutex_;
    std::shared_ptr<ConnectionInterface> connection_;

    std::mutex listeners_mutex_;
    std::vector<JabberListener*> listeners_;

    // The call guard: no destruction while a thread is inside an operation.
    std::mutex guard_mutex_;
    std::condition_variable guard_cv_;
    int calls_ = 0;
    bool closing_ = false;

    ReactorTimer keep_alive_;
    LoginDeadline login_deadline_ticks_;
    ReactorTimer login_deadline_;
};

} // namespace vokar
