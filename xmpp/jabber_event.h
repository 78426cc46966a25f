#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vokar {

class JingleSession;
struct IceCandidate;

// Event codes the XMPP client raises to its listeners.
enum JabberEventCode : int {
    kEventChatMessage = 0,
    kEventChatState = 1,
    kEventPresence = 3,
    kEventAuthentication = 5,   // result: an AuthenticationResult
    kEventConnected = 7,        // no payload
    kEventDisconnected = 8,     // no payload, or result: the socket error (kWsaEtimedout)
    kEventTransport = 10,       // network
    kEventHollers = 13,         // items
    kEventRosterLoaded = 14,    // no payload
    kEventHollerAnswer = 16,    // text
    kEventJingleSupported = 17, // no payload
    kEventCallImpossible = 18,  // no payload, an empty event, or session
    kEventPeerRinging = 20,     // session
    kEventCallAccepted = 21,    // session
    kEventCallEnded = 22,       // session; text: the condition the peer gave, or empty
    kEventIncomingCall = 23,    // session
    kEventJingleError = 24,     // sid: a request of that session was answered with an error
    kEventIceCandidate = 25,    // sid, candidate
    kEventMessageError = 27,    // jid, text
    kEventNewVersion = 29,      // force_update, update_url, update_message
};

// The result of kEventAuthentication.
enum AuthenticationResult : int {
    kAuthenticationSucceeded = 0,
    kAuthenticationFailed = 1,
};

// The chat_state of kEventChatState.
enum ChatState : int {
    kChatStateNone = 0,
    kChatStateComposing = 1,
    kChatStateStopped = 2,
};

// Presence status codes, shared with the friends model and the screens.
enum StatusCode : int {
    kStatusPending = 0,
    kStatusAvailable = 1,
    kStatusAway = 2,
    kStatusBusy = 3,
    kStatusOffline = 4,
    kStatusRequested = 5,
};

// Instant-messaging networks.
enum NetworkId : int {
    kNetworkPlain = -1,
    kNetworkAim = 0,
    kNetworkMsn = 1,
    kNetworkIcq = 2,
    kNetworkYahoo = 3,
    kNetworkGtalk = 4,
    kNetworkService = 5,
    kNetworkJabber = 6,
    kNetworkSkype = 9,
    kNetworkFacebook = 10,
    kNetworkQq = 11,
    kNetworkGaduGadu = 12,
};

// One contact's presence or roster change.
struct PresenceUpdate {
    std::string jid;  // bare JID
    std::string name; // display name from a roster item; empty from a presence
    int status = kStatusOffline;
    std::string status_text;
    bool in_roster = false; // made from a roster item
    bool removed = false;   // the item was removed from the roster
};

// What an event carries; each event fills only its own fields. Listeners copy
// what they keep: the record is freed after they return.
struct JabberEvent {
    std::string text;
    std::string jid;
    int chat_state = kChatStateNone;
    int result = 0;
    int network = 0;
    std::vector<PresenceUpdate> updates;
    std::vector<std::string> items;
    bool force_update = false;
    std::string update_url;
    std::string update_message;
    std::string sid;
    // The call events' session: a handle for the client's call operations
    // (which act only while the session lives), kept alive by the copy.
    std::shared_ptr<JingleSession> session;
    std::shared_ptr<const IceCandidate> candidate;
};

class JabberListener {
public:
    virtual ~JabberListener() = default;
    // `event` is null for the events that carry no payload.
    virtual void onJabberEvent(int code, const JabberEvent* event) = 0;
};

} // namespace vokar
