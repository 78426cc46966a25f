#pragma once

#include <string>

namespace vokar {

class CallController;

// A phone that logs in and signals calls: the AppController over XMPP and
// the SipPhone over SIP. A call moves at most once, from the first to the
// second, when the peer cannot take an XMPP call.
class PhoneInterface {
public:
    virtual ~PhoneInterface() = default;

    virtual void login(const std::string& user, const std::string& password) = 0;
    virtual void logout() = 0;
    // Starts an outgoing call on a worker thread.
    virtual void placeCall(CallController* call) = 0;
    // Tells the caller of an incoming call that the phone rings.
    virtual void ringing(CallController* call) = 0;
    virtual void accept(CallController* call) = 0;
    virtual void reject(CallController* call) = 0;
    virtual void hangUp(CallController* call) = 0;
};

} // namespace vokar
