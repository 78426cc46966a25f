#pragma once

#include <cstdint>

namespace vokar {

// Window messages from worker threads to the screens (WM_USER + 1000 and up).
// A separate number space from StringId, which overlaps it.
enum class MessageCode : uint32_t {
    BearerLabelChanged = 2025,  // NetworkMonitor: re-read the bearer label
    FriendsModelChanged = 2026, // FriendsModel: content, order, selection or scroll
    FriendsListChanged = 2037,  // AppController: redraw the friends list (posted)
    LinkRatingChanged = 2038,   // NetworkMonitor: a new link rating
    BearerAvailable = 2041,     // NetworkMonitor: log in again
    BearerLost = 2042,          // NetworkMonitor: everything offline, drop both phones
    CallChanged = 2124,
    CallCreated = 2125,
    CallIncoming = 2126,
    CallConnected = 2127,
    CallMissed = 2128,
    CallOver = 2129,
    CallAudioStopped = 2130,
    ServiceMessage = 2135,
    AskImportAccounts = 2136,
    HollerFriendOnline = 2137,
    HollersRetrieved = 2138,
    HollerAnswered = 2139,
    FriendRequestAccepted = 2140,
    FriendRequestRejected = 2141,
    GatewayMessageFailed = 2142,
    CallMoved = 2143, // CallController: an outgoing call moved to SIP (posted)
};

constexpr uint32_t code(MessageCode c)
{
    return static_cast<uint32_t>(c);
}

} // namespace vokar
