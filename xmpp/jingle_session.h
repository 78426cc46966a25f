#pragma once

#include <string>
#include <vector>

#include "xmpp/jingle_content.h"

namespace vokar {

// One Jingle session: an audio call, or a file transfer that is recognised
// but never carried out. The `JingleManager` keeps the live ones; callers
// hold them by shared pointer and act on them only through the client, which
// reads and changes them under its receiver mutex.
class JingleSession {
public:
    enum State : int { kNew = 0, kPending = 1, kActive = 2 };
    enum Application : int { kAudio, kFileTransfer };

    explicit JingleSession(Application application) : application(application) {}

    const Application application;
    int state = kNew;
    std::string sid;
    std::string initiator; // full JID
    std::string responder; // full JID
    std::string own_jid;   // `from` of every stanza of the session
    std::string peer_jid;  // `to` of every stanza of the session
    std::vector<JingleContent> local_contents;
    std::vector<JingleContent> remote_contents;
    std::string reason; // the condition of a received session-terminate
    int transport_kind = kTransportAddress;
};

} // namespace vokar
