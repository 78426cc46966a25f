#include "tools/operator/services/account_pages.h"

#include <algorithm>
#include <ctime>

#include "base/md5.h"
#include "tools/operator/services/limits.h"

namespace vokar::operatord {
namespace {

constexpr std::string_view kPagePrefix = "/accounts/";
constexpr size_t kMaxNumberDigits = 20;
// Ten concatenated SMS.
constexpr size_t kMaxSmsBytes = 1600;
constexpr size_t kMaxCountryCodeDigits = 8;

constexpr std::string_view kRefused = "authentication failed";
constexpr std::string_view kUnavailable = "the service is unavailable at present";

std::string success(std::string_view payload)
{
    return "0" + std::string(payload);
}

std::string failure(std::string_view reason)
{
    return "1" + std::string(reason);
}

bool all_digits(std::string_view text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool valid_number(std::string_view text)
{
    return !text.empty() && text.size() <= kMaxNumberDigits && all_digits(text);
}

// Compares without stopping at the first difference; hex case is ignored.
bool same_digest(std::string_view expected, std::string_view given)
{
    if (expected.size() != given.size())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        char c = given[i];
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        difference |= static_cast<unsigned char>(expected[i] ^ c);
    }
    return difference == 0;
}

const std::string* value_of(const QueryParameters& query, std::string_view key)
{
    const auto it = query.find(key);
    return it == query.end() ? nullptr : &it->second;
}

// "5", "5.0" or "5.00" in cents.
std::optional<int64_t> parse_amount(std::string_view text)
{
    const size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 12 || !all_digits(whole) || !all_digits(fraction) ||
        (dot != std::string_view::npos && (fraction.empty() || fraction.size() > 2)))
        return std::nullopt;
    int64_t cents = 0;
    for (char c : whole)
        cents = cents * 10 + (c - '0');
    cents *= 100;
    if (!fraction.empty())
        cents += (fraction[0] - '0') * 10 + (fraction.size() > 1 ? fraction[1] - '0' : 0);
    return cents;
}

} // namespace

std::optional<AccountPages::Settings>
AccountPages::settings_from(const platform::OperatorConfig& config, std::string* error)
{
    Settings settings;
    const auto endpoint = [](const std::string& host, uint16_t port) {
        return host + ":" + std::to_string(port) + "\n";
    };
    settings.server_list = "-SIP\n" + endpoint(config.sip_host, config.sip_port) + "-JABBER\n" +
                           endpoint(config.xmpp_host, config.xmpp_port) + "-PHP\n" +
                           endpoint(config.web_host, config.web_port) + "-STUN\n" +
                           endpoint(config.stun_host, config.stun_port) + "-DOMAIN\n" +
                           config.sip_domain + "\n-ENDLIST\n";
    settings.sister_host_name = config.sister_web_host_name;
    settings.web_host_name = config.web_host_name;
    settings.signup_salt = config.signup_salt;
    const std::string credit = config.get("web_initial_credit", "5.00");
    const auto cents = parse_amount(credit);
    if (!cents) {
        *error = "web_initial_credit '" + credit + "' is not an amount such as 5.00";
        return std::nullopt;
    }
    settings.opening_credit_cents = *cents;
    settings.currency = config.get("web_currency", "$");

    constexpr uint64_t kMaxCount = 1000000;
    uint64_t window = static_cast<uint64_t>(settings.replay_window);
    uint64_t per_minute = settings.messages_per_minute;
    uint64_t per_hour = settings.messages_per_hour;
    uint64_t signups = settings.signups_per_hour;
    if (!config_number(config, "web_replay_window_s", 7 * 86400, &window, error) ||
        !config_number(config, "web_sms_per_minute", kMaxCount, &per_minute, error) ||
        !config_number(config, "web_sms_per_hour", kMaxCount, &per_hour, error) ||
        !config_number(config, "web_signups_per_hour", kMaxCount, &signups, error))
        return std::nullopt;
    settings.replay_window = static_cast<int64_t>(window);
    settings.messages_per_minute = per_minute;
    settings.messages_per_hour = per_hour;
    settings.signups_per_hour = signups;
    settings.default_country_code =
        config.get("web_default_country_code", settings.default_country_code);
    const auto& code = settings.default_country_code;
    if (code.empty() || code.size() > kMaxCountryCodeDigits || !all_digits(code)) {
        *error = "web_default_country_code '" + code + "' is not 1 to 8 digits";
        return std::nullopt;
    }
    return settings;
}

AccountPages::AccountPages(AccountManager& accounts, Settings settings)
    : accounts_(accounts), settings_(std::move(settings)),
      accepted_messages_(settings_.replay_window), message_rate_(settings_.messages_per_minute, 60),
      signup_rate_(settings_.signups_per_hour, 3600)
{
    if (!settings_.clock)
        settings_.clock = [] { return static_cast<int64_t>(std::time(nullptr)); };
}

std::string AccountPages::balance_text(std::string_view currency, int64_t cents)
{
    const bool negative = cents < 0;
    const uint64_t magnitude =
        negative ? uint64_t(0) - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
    const uint64_t fraction = magnitude % 100;
    return std::string(currency) + " " + (negative ? "-" : "") + std::to_string(magnitude / 100) +
           "." + (fraction < 10 ? "0" : "") + std::to_string(fraction);
}

std::string AccountPages::answer(const HttpRequest& request, std::string* problem)
{
    using Page =
        std::string (AccountPages::*)(const QueryParameters&, std::string_view, std::string*);
    struct Route {
        std::string_view name;
        Page page;
    };
    static const Route kRoutes[] = {
        {"moservers.php", &AccountPages::servers}, {"moprefix.php", &AccountPages::prefix},
        {"mosms.php", &AccountPages::message},     {"moaccount.php", &AccountPages::balance},
        {"mosignup.php", &AccountPages::sign_up},
    };
    const Route* route = nullptr;
    if (std::string_view(request.path).starts_with(kPagePrefix)) {
        const std::string_view name = std::string_view(request.path).substr(kPagePrefix.size());
        for (const auto& r : kRoutes)
            if (r.name == name)
                route = &r;
    }
    if (!route)
        return http_answer(404, "no such page\n");
    if (request.method != "GET")
        return http_answer(405, "only GET is served here\n", "Allow: GET\r\n");

    const auto query = decode_query(request.query);
    if (!query)
        return http_answer(200, failure("malformed query"));
    return http_answer(200, (this->*route->page)(*query, request.source, problem));
}

std::string AccountPages::servers(const QueryParameters&, std::string_view, std::string*)
{
    // The lists are the same for everyone, known account or not: a new
    // client asks for them before it has an account.
    return success(settings_.server_list);
}

AccountPages::Auth AccountPages::check(std::string_view user, std::string_view auth,
                                       std::string_view page, std::string_view values,
                                       std::string* problem)
{
    Account account;
    std::string error;
    switch (accounts_.store().find(user, &account, &error)) {
    case AccountStore::Lookup::failed:
        *problem = error;
        return Auth::failed;
    case AccountStore::Lookup::absent:
        return Auth::refused;
    case AccountStore::Lookup::found:
        break;
    }
    const std::string expected =
        md5_hex("http://" + settings_.sister_host_name + std::string(kPagePrefix) +
                std::string(page) + std::string(user) + std::string(values) + account.password);
    return same_digest(expected, auth) ? Auth::ok : Auth::refused;
}

std::string AccountPages::prefix(const QueryParameters& query, std::string_view,
                                 std::string* problem)
{
    const std::string* user = value_of(query, "username");
    if (!user)
        return failure("missing username");
    // The page needs no authentication, so it must not tell who has an
    // account: a user unknown here, or without a code on record, gets the
    // operator's default like anyone else.
    Account account;
    std::string error;
    if (accounts_.store().find(*user, &account, &error) == AccountStore::Lookup::failed) {
        *problem = error;
        return failure(kUnavailable);
    }
    // The country's calling code: national numbers starting with 0 get it
    // in place of the 0. Accounts made by the tool may carry a "+".
    std::string digits;
    for (char c : account.country_code)
        if (c >= '0' && c <= '9')
            digits += c;
    return success(digits.empty() ? settings_.default_country_code : digits);
}

std::string AccountPages::refusal(Auth outcome)
{
    return failure(outcome == Auth::failed ? kUnavailable : kRefused);
}

std::string AccountPages::message(const QueryParameters& query, std::string_view,
                                  std::string* problem)
{
    const std::string* text = value_of(query, "msg");
    const std::string* recipient = value_of(query, "msisdn");
    const std::string* user = value_of(query, "authuser");
    const std::string* auth = value_of(query, "auth");
    const std::string* invite_flag = value_of(query, "invite");
    if (!text || !recipient || !user || !auth)
        return failure("malformed query");
    if (invite_flag && *invite_flag != "0" && *invite_flag != "1")
        return failure("malformed query");
    const bool invite = invite_flag && *invite_flag == "1";

    if (const Auth outcome = check(*user, *auth, "mosms.php", *text + *recipient, problem);
        outcome != Auth::ok)
        return refusal(outcome);
    if (!valid_number(*recipient))
        return failure("the recipient must be 1 to 20 digits");
    if (!invite && text->empty())
        return failure("the message is empty");
    if (text->size() > kMaxSmsBytes)
        return failure("the message is longer than " + std::to_string(kMaxSmsBytes) + " bytes");

    // The digest carries no time and covers neither the invite flag nor
    // where the text ends and the number begins, so a captured request
    // could be sent again at will, or altered: each digest is taken once
    // within the replay window. Each account's rate is limited besides.
    std::string digest = *auth;
    std::transform(digest.begin(), digest.end(), digest.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c; });
    const int64_t now = settings_.clock();
    if (accepted_messages_.seen(digest, now))
        return failure("this message was already accepted");
    if (!message_rate_.allow(*user, now))
        return failure("too many messages; try again in a minute");
    std::string error;
    int64_t last_hour = 0;
    if (!accounts_.store().count_queued_since(*user, now - 3600, &last_hour, &error)) {
        *problem = error;
        return failure(kUnavailable);
    }
    if (last_hour >= static_cast<int64_t>(settings_.messages_per_hour))
        return failure("too many messages this hour; try again later");
    const OutboxMessage entry{0, *user, *recipient, *text, invite, now};
    if (!accounts_.store().queue_message(entry, &error)) {
        *problem = error;
        return failure(kUnavailable);
    }
    accepted_messages_.remember(digest, now);
    return success(invite ? "Invitation accepted for delivery" : "Message accepted for delivery");
}

std::string AccountPages::balance(const QueryParameters& query, std::string_view,
                                  std::string* problem)
{
    const std::string* user = value_of(query, "authuser");
    const std::string* auth = value_of(query, "auth");
    if (!user || !auth)
        return failure("malformed query");
    if (const Auth outcome = check(*user, *auth, "moaccount.php", {}, problem); outcome != Auth::ok)
        return refusal(outcome);
    int64_t cents = 0;
    std::string error;
    switch (accounts_.store().balance(*user, settings_.opening_credit_cents, &cents, &error)) {
    case AccountStore::Lookup::found:
        return success(balance_text(settings_.currency, cents));
    case AccountStore::Lookup::absent:
        return failure(kRefused); // removed since the check
    case AccountStore::Lookup::failed:
        break;
    }
    *problem = error;
    return failure(kUnavailable);
}

std::string AccountPages::sign_up(const QueryParameters& query, std::string_view source,
                                  std::string* problem)
{
    const std::string* auth = value_of(query, "auth");
    const std::string* user = value_of(query, "authuser");
    const std::string* password = value_of(query, "password");
    const std::string* country = value_of(query, "countryCode");
    const std::string* nickname = value_of(query, "nickname");
    const std::string* email = value_of(query, "email");
    if (!auth || !user || !password || !country)
        return failure("malformed query");
    const std::string expected =
        md5_hex("http://" + settings_.web_host_name + std::string(kPagePrefix) + "mosignup.php" +
                *user + *password + settings_.signup_salt);
    if (!same_digest(expected, *auth))
        return failure(kRefused);
    // Each attempt with a valid digest tells whether a number has an
    // account, so a source address gets only a few per hour.
    if (!signup_rate_.allow(std::string(source), settings_.clock()))
        return failure("too many sign-ups from this address; try again later");
    if (country->empty() || country->size() > kMaxCountryCodeDigits || !all_digits(*country))
        return failure("the country code must be 1 to 8 digits");

    const NewAccount account{*user, *password, nickname ? *nickname : std::string(),
                             email ? *email : std::string(), *country};
    const AccountResult result = accounts_.create(account);
    switch (result.outcome) {
    case AccountResult::Outcome::done:
        return success("Welcome to Vokar! Your account " + *user + " is ready.");
    case AccountResult::Outcome::invalid:
        return failure(result.message);
    case AccountResult::Outcome::exists:
        return failure("the number " + *user + " already has an account");
    case AccountResult::Outcome::not_found:
    case AccountResult::Outcome::failed:
        break;
    }
    *problem = "sign-up of " + *user + ": " + result.message;
    return failure("the account could not be created; try again later");
}

} // namespace vokar::operatord
