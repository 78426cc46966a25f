#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/operator_config.h"

namespace vokar {

// Building blocks of the request lines. Values are bytes (UTF-8).

// Removes one leading "+" (a second one stays).
std::string strip_plus(std::string bytes);
// Removes one trailing space (a second one stays).
std::string trim_one_trailing_space(std::string bytes);
// Keeps ASCII letters and digits; every other byte becomes "%" and two
// upper-case hexadecimal digits.
std::string url_encode(std::string_view bytes);
// MD5 of the concatenated parts, as 32 lower-case hexadecimal digits.
std::string web_auth(std::initializer_list<std::string_view> parts);
// The dialing prefix from its answer's payload: punctuation, spaces, line
// ends and every other control byte removed.
std::wstring sanitize_dialing_prefix(std::wstring_view payload);

// The complete HTTP requests of the account web service. `username` and
// `password` are the account's settings; the Host header and the auth
// addresses come from the operator configuration.
class WebRequestTexts {
public:
    WebRequestTexts(const platform::OperatorConfig& config, std::wstring_view username,
                    std::wstring_view password);

    std::string fetch_servers() const;
    std::string fetch_dialing_prefix() const;
    std::string send_sms(std::wstring_view recipient, std::wstring_view message) const;
    std::string send_invitation(std::wstring_view recipient) const;
    std::string check_balance() const;
    // Uses its own arguments, not the account settings. The values are
    // URL-encoded in the request; the auth is computed over the raw values.
    std::string create_account(std::wstring_view number, std::wstring_view password,
                               std::wstring_view nickname, std::wstring_view email,
                               std::wstring_view country_code) const;

private:
    std::string message_request(std::wstring_view recipient, std::wstring_view message,
                                bool invite) const;
    std::string tail() const;

    std::string host_name_;        // the operator's web host name
    std::string sister_host_name_; // the sister service's, for the SMS and balance auth
    std::string salt_;             // sign-up auth
    std::string user_;             // username without its "+"
    std::string password_;
};

} // namespace vokar
