#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "net/connection_interface.h"
#include "platform/thread.h"
#include "sip/sip_core.h"
#include "sip/sip_message.h"

namespace vokar {

// Outcome of a registration or an unregistration (events 0 and 10).
struct SipResult {
    enum Code : int {
        kSuccess = 0,
        kTimeout = 1,
        kAuthRefused = 2,
        kFailure = 3, // text: the first word of the reason phrase
    };
    int code = kSuccess;
    std::string text;
};

// The call record handed to listeners; the stack owns it.
struct SipCall {
    enum State : int {
        kStateNone = -1,
        kStateRemoteRinging = 0,
        kStateConnected = 1,
        kStateEnded = 3,
        kStateIncoming = 4,   // incoming and ringing here
        kStateCalling = 5,    // INVITE sent
        kStateCancelling = 6, // being cancelled or rejected by this side
    };
    enum Direction : int { kDirectionNone = -1, kOutgoing = 0, kIncoming = 1 };
    enum EndReason : int {
        kEndBusy = 0,
        kEndTimeout = 1,
        kEndCancelled = 2, // cancelled by the other side
        kEndHungUp = 3,    // hung up by the other side
        kEndNotFound = 4,
        kEndUnavailable = 5,
        kEndOther = 8,
    };
    static constexpr size_t kMaxPayloads = 20;

    std::string call_key; // the owner's handle for every call operation
    std::string sip_call_id;
    int state = kStateNone;
    int direction = kDirectionNone;
    int end_reason = kEndOther;
    std::string remote_user, remote_host;
    std::string remote_display;
    std::string remote_media_ip; // c= of the remote SDP
    int remote_media_port = -1;  // m= port of the remote SDP
    std::string remote_local_ip; // a=local of the remote SDP
    int remote_local_port = -1;
    std::string remote_stun_ip; // a=stunned of the remote SDP
    int remote_stun_port = -1;
    std::vector<int> remote_payloads;   // at most kMaxPayloads, in a=rtpmap order
    std::string session_id;             // SDP session id
    std::optional<std::string> message; // text of a received MESSAGE
    std::optional<std::string> redirect_user, redirect_host; // Contact of a 302
};

// Events the stack raises to its listeners, with the type `data` points to.
enum SipEventCode : int {
    kSipRegistration = 0,     // SipResult: first success, timeout, refusal, failure
    kSipRemoteRinging = 1,    // SipCall: first 180 or 183 on an outgoing call
    kSipCallEnded = 3,        // SipCall: ended or given up
    kSipIncomingCall = 5,     // SipCall: incoming INVITE
    kSipCallAnswered = 6,     // SipCall: 200 on an outgoing call
    kSipProxyAuth = 7,        // SipCall: first 407 on an outgoing call
    kSipEarlyMedia = 9,       // SipCall: 183 after the first ringing
    kSipUnregistration = 10,  // SipResult
    kSipNotify = 14,          // SipCall
    kSipMessage = 16,         // SipCall, with `message`
    kSipTransportOpened = 17, // no data: the transport's connection attempt ended
    kSipRedirected = 18,      // SipCall: 302 on an outgoing call
};

class SipListener {
public:
    virtual ~SipListener();
    // `data` is a SipResult, a SipCall or null as SipEventCode says; it is
    // valid only during the call.
    virtual void on_sip_event(int code, const void* data) = 0;
};

// The SIP user agent as its owner drives it. Events arrive on a thread of the
// stack's, never on the caller's.
class SipStackInterface {
public:
    virtual ~SipStackInterface();

    virtual void add_listener(SipListener* listener) = 0;
    // Once it returns, the listener receives no further event.
    virtual void remove_listener(SipListener* listener) = 0;

    // Payload types offered in SDP, in the order added.
    virtual void add_codec(int payload_type) = 0;
    virtual void set_display_name(const std::string& name) = 0;
    virtual void set_local_address(const std::string& address, int media_port) = 0;
    virtual void set_rtp_port(int port) = 0;
    virtual void set_stun_address(const std::string& address, int port) = 0;

    // Takes the transport, becomes its listener and opens it towards
    // host:port from local_port. From here on the stack owns the transport
    // and frees it (which waits for its receive thread) before freeing itself.
    virtual bool open(std::unique_ptr<ConnectionInterface> transport, const std::string& host,
                      const std::string& local_address, uint16_t port, uint16_t local_port) = 0;

    // REGISTER; the outcome is event 0.
    virtual void register_account(const std::string& user, const std::string& password) = 0;
    // REGISTER with expiry 0; the outcome is event 10.
    virtual void unregister() = 0;

    // INVITE; the new call's key, or none while not registered.
    virtual std::optional<std::string> call(const std::string& user, const std::string& host) = 0;
    // A key with no call does nothing.
    virtual void ringing(const std::string& call_key) = 0;
    virtual void accept(const std::string& call_key) = 0;
    virtual void hangup(const std::string& call_key) = 0;

    // The account balance the server reported, e.g. "$1.25"; empty until then.
    virtual std::string balance_text() = 0;
};

// The SIP user agent: one dialog per transaction or call, retransmissions and
// time-outs, registration and its refresh, digest re-sends, calls, and a
// keep-alive datagram every 30 s.
//
// Threads: every entry (a received datagram, a timer on the reactor, an
// owner operation) runs under one lock and never waits inside it on anything
// else; datagrams go out after the lock is released. Events are queued in
// order and raised on the stack's own event thread, one at a time, so a
// listener may block (for instance in a synchronous window message) while
// another thread calls hangup or accept, and neither the receive thread nor
// the reactor waits for a listener. Timers are deadlines on the reactor's
// clock; the event thread keeps one reactor entry scheduled for the earliest.
// Removed dialogs are handed to the disposal queue.
class SipStack final : public SipStackInterface, private ConnectionListener {
public:
    static constexpr int kDefaultRegistrationPeriod = 1200; // seconds

    SipStack(const std::string& domain, Reactor& reactor, DisposalQueue& disposal,
             int registration_period = kDefaultRegistrationPeriod);
    ~SipStack() override;
    SipStack(const SipStack&) = delete;
    SipStack& operator=(const SipStack&) = delete;

    void add_listener(SipListener* listener) override;
    // Waits for an event being raised to `listener`, unless called from it.
    void remove_listener(SipListener* listener) override;
    void add_codec(int payload_type) override;
    void set_display_name(const std::string& name) override;
    void set_local_address(const std::string& address, int media_port) override;
    void set_rtp_port(int port) override;
    void set_stun_address(const std::string& address, int port) override;
    bool open(std::unique_ptr<ConnectionInterface> transport, const std::string& host,
              const std::string& local_address, uint16_t port, uint16_t local_port) override;
    void register_account(const std::string& user, const std::string& password) override;
    void unregister() override;
    std::optional<std::string> call(const std::string& user, const std::string& host) override;
    void ringing(const std::string& call_key) override;
    void accept(const std::string& call_key) override;
    void hangup(const std::string& call_key) override;
    std::string balance_text() override;

    // One received datagram (also the transport's entry).
    void on_receive(const std::string& text);

    // Returns once every queued event has been raised and every timer change
    // has reached the reactor (tests use it to step a ManualClock).
    void wait_idle();

private:
    struct Transaction;
    struct Event {
        int code = 0;
        std::variant<std::monostate, SipResult, SipCall> data;
    };
    // The stack as its reactor entries reach it; cleared (under `mutex`) at
    // destruction, so an entry that runs later does nothing.
    struct Alive {
        std::mutex mutex;
        SipStack* stack = nullptr;
    };

    // ConnectionListener
    void onReceive(const std::string& message) override { on_receive(message); }
    void onConnectResult(int status) override;

    // A reactor entry fell due: runs the timers whose time has come.
    void on_due(uint32_t due);
    // Schedules a reactor entry for `due` (called without the lock).
    void arm(uint32_t due);
    std::optional<uint32_t> earliest_due() const;
    // Ends every entry: sends the queued datagrams (outside the lock, unless
    // another thread is sending them), wakes the event thread for new events
    // or an earlier deadline and hands removed dialogs to the disposal queue.
    void finish_entry(std::unique_lock<std::mutex>& lock);
    // The event thread: raises events and schedules reactor entries.
    void run_events();

    // Everything below runs under mutex_.
    Transaction* find_by_call_id(const std::string& call_id);
    Transaction* find_by_key(const std::string& call_key);
    Transaction* insert(std::unique_ptr<Transaction> transaction);
    void remove(Transaction* transaction);
    void send(const std::string& text);
    void send(const SipMessage& message);
    void raise(int code, const SipCall& call);
    void raise(int code, const SipResult& result);
    void start_retransmit(Transaction& t, const std::string& text, int extra_budget_s);
    void start_transaction_timer(Transaction& t, int units);
    void do_register(bool unregistering);
    void run_timers(uint32_t now);
    void retransmit(Transaction& t);
    void timed_out(Transaction& t);
    void send_bye(Transaction& t);

    void handle_request(const SipMessage& request);
    void handle_call_request(Transaction& t, const SipMessage& request);
    void answer_out_of_dialog(const SipMessage& request);
    void handle_response(Transaction& t, const SipMessage& response);
    bool handle_challenge(Transaction& t, const SipMessage& response);
    void handle_call_response(Transaction& t, const SipMessage& response);
    void acknowledge(Transaction& t, const SipMessage& response);
    void resend_with_credentials(Transaction& t, const SipMessage& response);
    void take_remote_sdp(Transaction& t, const SdpSession& sdp);

    Reactor& reactor_;
    DisposalQueue& disposal_;
    const int registration_period_;

    std::mutex mutex_;
    SipCore core_;
    std::unique_ptr<ConnectionInterface> transport_;
    std::vector<std::unique_ptr<Transaction>> dialogs_;
    int cseq_counter_ = 0;
    bool registered_ = false;
    std::optional<std::string> registration_call_id_;
    std::optional<uint32_t> refresh_due_;
    uint32_t keepalive_due_ = 0;
    std::optional<uint32_t> armed_due_;   // the earliest reactor entry scheduled
    std::optional<uint32_t> arm_request_; // for the event thread to schedule
    std::string balance_text_;

    // Datagrams to send, in order, and whether a thread is sending them.
    std::deque<std::string> outbox_;
    bool sending_ = false;
    // Output of the entry under way, flushed by finish_entry.
    bool keepalive_pending_ = false;
    std::vector<std::unique_ptr<Transaction>> retired_;

    std::vector<SipListener*> listeners_;
    std::deque<Event> events_;
    SipListener* delivering_to_ = nullptr;
    bool working_ = false; // the event thread is outside the lock on a task
    bool stopping_ = false;
    std::condition_variable work_;
    std::condition_variable idle_;

    std::shared_ptr<Alive> alive_;
    platform::Thread event_thread_; // last: started once the rest exists
};

} // namespace vokar
