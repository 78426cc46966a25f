#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/operator_config.h"
#include "tools/operator/accounts/account_manager.h"
#include "tools/operator/services/http_request.h"
#include "tools/operator/services/rate_limiter.h"

namespace vokar::operatord {

// The pages of the account web service under "/accounts/": the server
// lists, the dialing prefix, SMS and invitations, the balance and sign-up.
// Every answer to a page is "200 OK" with a body of one status character,
// "0" success or "1" failure, then the payload (on failure: why).
//
// Auth values are MD5 digests (lower-case hex) over the page's absolute
// address and the request's decoded values, the account's password among
// them, exactly as the client computes them. Used by one thread at a time.
class AccountPages {
public:
    struct Settings {
        std::string server_list;      // moservers.php's payload
        std::string sister_host_name; // in the SMS and balance auth
        std::string web_host_name;    // in the sign-up auth
        std::string signup_salt;
        int64_t opening_credit_cents = 500;
        std::string currency = "$";
        std::function<int64_t()> clock; // seconds since the epoch; default: time()
        // How long an SMS or invitation digest, once accepted, is refused.
        int64_t replay_window = 3600;
        // SMS and invitations per account: per minute, and queued per hour.
        size_t messages_per_minute = 5;
        size_t messages_per_hour = 30;
        // Sign-ups with a valid digest per source address and hour.
        size_t signups_per_hour = 10;
        // The dialing prefix answered for a user without one on record,
        // known or not.
        std::string default_country_code = "1";
    };

    // The settings operator.conf gives: the stack's endpoints, names, salt,
    // and web_initial_credit / web_currency. nullopt with *error for a bad
    // value.
    static std::optional<Settings> settings_from(const platform::OperatorConfig& config,
                                                 std::string* error);

    // `accounts` must outlive the pages.
    AccountPages(AccountManager& accounts, Settings settings);

    // The complete HTTP answer to `request`: 404 for a path that is no page,
    // 405 for a method other than GET. A failure of the store is answered
    // "1" and described in *problem (for the operator's log; it never holds
    // a password).
    std::string answer(const HttpRequest& request, std::string* problem);

    // "$ 5.00" for 500 cents.
    static std::string balance_text(std::string_view currency, int64_t cents);

private:
    // Each page gets the decoded query and the client's address.
    std::string servers(const QueryParameters& query, std::string_view, std::string* problem);
    std::string prefix(const QueryParameters& query, std::string_view, std::string* problem);
    std::string message(const QueryParameters& query, std::string_view, std::string* problem);
    std::string balance(const QueryParameters& query, std::string_view, std::string* problem);
    std::string sign_up(const QueryParameters& query, std::string_view source,
                        std::string* problem);
    // Whether `auth` is the digest of the sister service's address of
    // `page`, `user`, `values` and the stored password of `user`. An unknown
    // user is refused like a wrong digest.
    enum class Auth { ok, refused, failed };
    // The answer to a request whose authentication did not pass.
    static std::string refusal(Auth outcome);
    Auth check(std::string_view user, std::string_view auth, std::string_view page,
               std::string_view values, std::string* problem);

    AccountManager& accounts_;
    Settings settings_;
    ReplayGuard accepted_messages_;
    RateLimiter message_rate_;
    RateLimiter signup_rate_;
};

} // namespace vokar::operatord
