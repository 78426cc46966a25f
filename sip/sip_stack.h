#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/connection_interface.h"

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

// The SIP user agent as its owner drives it. Events arrive on the transport's
// receive thread and on the reactor thread (time-outs), never on the caller's.
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

} // namespace vokar
