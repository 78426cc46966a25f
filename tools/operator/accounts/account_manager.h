#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "tools/operator/accounts/account_store.h"
#include "tools/operator/accounts/sasl_user_db.h"
#include "tools/operator/xmpp/xmpp_instance.h"

namespace vokar::operatord {

struct NewAccount {
    std::string user_name;
    std::string password;
    std::string nickname;
    std::string email;
    std::string country_code;
};

struct AccountResult {
    enum class Outcome { done, invalid, exists, not_found, failed };
    Outcome outcome = Outcome::done;
    std::string message; // why, when not done

    explicit operator bool() const { return outcome == Outcome::done; }
};

// Why `account` cannot be created, or empty when it can. User names are
// what the XMPP server takes unchanged: 1 to 64 of a-z 0-9 . _ - starting
// with a letter or digit (a mobile number is fine). Passwords are 1 to 256
// bytes without control characters; nickname (64), e-mail (254) and country
// code (8) are optional, also without control characters.
std::string account_problem(const NewAccount& account);

// The one way accounts are made and removed: the operator's account store
// and the XMPP server's user database change together, so an account
// exists in both or in neither. A step that fails undoes the steps before
// it. The store's write lock is held throughout, so concurrent callers (the
// web service and the command-line tool) take turns.
class AccountManager {
public:
    struct Options {
        SaslUserDb::Tools tools;
        std::function<int64_t()> clock; // seconds since the epoch; default: time()
    };

    // Opens (creating when needed) the instance directory and its account
    // store. nullptr with *error on failure.
    static std::unique_ptr<AccountManager> open(const XmppInstance& instance, std::string* error)
    {
        return open(instance, Options{}, error);
    }
    static std::unique_ptr<AccountManager> open(const XmppInstance& instance, Options options,
                                                std::string* error);

    AccountResult create(const NewAccount& account);
    AccountResult remove(std::string_view user_name);

    AccountStore& store() { return *store_; }
    SaslUserDb& users() { return users_; }

private:
    AccountManager(std::unique_ptr<AccountStore> store, SaslUserDb users, Options options);

    std::unique_ptr<AccountStore> store_;
    SaslUserDb users_;
    Options options_;
};

} // namespace vokar::operatord
