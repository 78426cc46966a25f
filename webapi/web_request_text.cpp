#include "webapi/web_request_text.h"

#include "base/md5.h"
#include "platform/text.h"

namespace vokar {
namespace {

bool is_alphanumeric(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Bytes removed from a dialing prefix before the control bytes.
constexpr std::string_view kPrefixPunctuation = " -.!@#$%^&*_=|\\/?'\";:><,~`\n\r";

} // namespace

std::string strip_plus(std::string bytes)
{
    if (!bytes.empty() && bytes.front() == '+')
        bytes.erase(0, 1);
    return bytes;
}

std::string trim_one_trailing_space(std::string bytes)
{
    if (!bytes.empty() && bytes.back() == ' ')
        bytes.pop_back();
    return bytes;
}

std::string url_encode(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (is_alphanumeric(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string web_auth(std::initializer_list<std::string_view> parts)
{
    std::string input;
    for (const std::string_view part : parts)
        input += part;
    return md5_hex(input);
}

std::wstring sanitize_dialing_prefix(std::wstring_view payload)
{
    std::string kept;
    for (const char ch : platform::to_utf8(payload)) {
        if (kPrefixPunctuation.find(ch) != std::string_view::npos)
            continue;
        if (static_cast<unsigned char>(ch) < 32)
            continue;
        kept += ch;
    }
    return platform::to_wide(kept);
}

WebRequestTexts::WebRequestTexts(const platform::OperatorConfig& config, std::wstring_view username,
                                 std::wstring_view password)
    : host_name_(config.web_host_name), sister_host_name_(config.sister_web_host_name),
      salt_(config.signup_salt), user_(strip_plus(platform::to_utf8(username))),
      password_(platform::to_utf8(password))
{
}

std::string WebRequestTexts::tail() const
{
    return "Host: " + host_name_ + "\r\nCookie: .\r\n\r\n";
}

std::string WebRequestTexts::fetch_servers() const
{
    return "GET /accounts/moservers.php?username=" + user_ + " HTTP/1.1\r\n" + tail();
}

std::string WebRequestTexts::fetch_dialing_prefix() const
{
    return "GET /accounts/moprefix.php?username=" + user_ + " HTTP/1.1\r\n" + tail();
}

std::string WebRequestTexts::message_request(std::wstring_view recipient, std::wstring_view message,
                                             bool invite) const
{
    const std::string text = trim_one_trailing_space(platform::to_utf8(message));
    const std::string number = strip_plus(platform::to_utf8(recipient));
    const std::string auth = web_auth(
        {"http://", sister_host_name_, "/accounts/mosms.php", user_, text, number, password_});
    return "GET /accounts/mosms.php?msg=" + url_encode(text) + "&msisdn=" + number +
           "&authuser=" + user_ + "&auth=" + auth + (invite ? "&invite=1" : "") + " HTTP/1.1\r\n" +
           tail();
}

std::string WebRequestTexts::send_sms(std::wstring_view recipient, std::wstring_view message) const
{
    return message_request(recipient, message, false);
}

std::string WebRequestTexts::send_invitation(std::wstring_view recipient) const
{
    return message_request(recipient, {}, true);
}

std::string WebRequestTexts::check_balance() const
{
    const std::string auth =
        web_auth({"http://", sister_host_name_, "/accounts/moaccount.php", user_, password_});
    return "GET /accounts/moaccount.php?authuser=" + user_ + "&auth=" + auth + " HTTP/1.0\r\n" +
           tail();
}

std::string WebRequestTexts::create_account(std::wstring_view number, std::wstring_view password,
                                            std::wstring_view nickname, std::wstring_view email,
                                            std::wstring_view country_code) const
{
    const std::string user = strip_plus(platform::to_utf8(number));
    const std::string secret = platform::to_utf8(password);
    const std::string nick = platform::to_utf8(nickname);
    const std::string mail = platform::to_utf8(email);
    const std::string auth =
        web_auth({"http://", host_name_, "/accounts/mosignup.php", user, secret, salt_});
    std::string line = "GET /accounts/mosignup.php?auth=" + auth + "&authuser=" + user +
                       "&password=" + url_encode(secret);
    if (!nick.empty())
        line += "&nickname=" + url_encode(nick);
    if (!mail.empty())
        line += "&email=" + url_encode(mail);
    line += "&countryCode=" + url_encode(platform::to_utf8(country_code));
    return line + " HTTP/1.1\r\n" + tail();
}

} // namespace vokar
