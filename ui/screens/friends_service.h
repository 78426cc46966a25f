#pragma once

#include <string>
#include <vector>

namespace vokar::ui {

// What the main screen and the friends screens ask of the application core:
// the XMPP connection's state and the user's friend, presence, Holler,
// gateway and call actions. The client implements it over its AppController;
// tests record the calls. GUI thread.
class FriendsService {
public:
    virtual ~FriendsService() = default;

    // The XMPP connection is up.
    virtual bool connected() = 0;
    // The XMPP login has completed.
    virtual bool logged_in() = 0;
    // The gateway of this network is registered for the account.
    virtual bool gateway_registered(int network) = 0;

    virtual void send_message(const std::wstring& jid, const std::wstring& text) = 0;
    virtual void holler(const std::wstring& jid) = 0;
    virtual void rename(const std::wstring& jid, const std::wstring& name) = 0;
    virtual void remove(const std::wstring& jid) = 0;
    // `address`: a number of the service (already normalised) or another
    // network's address.
    virtual void add(int network, const std::wstring& address) = 0;
    virtual void accept(const std::wstring& jid, const std::wstring& name) = 0;
    virtual void reject(const std::wstring& jid) = 0;
    virtual void set_status(int status) = 0;
    // Stores the text as the status message and publishes it.
    virtual void set_status_text(const std::wstring& text) = 0;
    virtual void register_gateway(int network, const std::wstring& user,
                                  const std::wstring& password) = 0;
    virtual void unregister_gateway(int network) = 0;

    // Places a call to a number (the dialer's text, a contact's or a
    // friend's number).
    virtual void call(const std::wstring& number) = 0;
    // The number in the service's form (for adding a friend of the service).
    virtual std::wstring normalize(const std::wstring& number) = 0;
};

} // namespace vokar::ui
