// The account web service of vokar-operatord over real connections: each
// page's answers and auth rule, the rows it writes, and what it does with
// requests that are not what the client sends.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <ctime>
#include <random>
#include <thread>

#include "base/md5.h"
#include "tests/operator/peer.h"
#include "tests/operator/xmpp_login.h"
#include "tests/support/full_stack.h"
#include "tests/support/operator_stack.h"
#include "tools/operator/accounts/account_manager.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;
using operatord::AccountManager;
using operatord::OutboxMessage;

constexpr const char* kUser = "27821234567";
constexpr const char* kPassword = "s3cret pw";

struct Answer {
    std::string status_line;
    std::string body;
};

// Everything the service sends until it closes; nullopt when it does not
// close within the reply time-out.
std::optional<std::string> read_to_close(int fd)
{
    std::string all;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return all;
        if (n < 0)
            return errno == ECONNRESET ? std::optional(all) : std::nullopt;
        all.append(buffer, static_cast<size_t>(n));
    }
}

// One request on a fresh connection. The answer must carry a Content-Length
// that matches its body, and the service must close after it.
std::optional<Answer> round_trip(uint16_t port, std::string_view request)
{
    Socket s = tcp_connect(port);
    if (!s.valid() || !send_all(s.fd(), request))
        return std::nullopt;
    const auto text = read_to_close(s.fd());
    if (!text)
        return std::nullopt;
    const size_t end = text->find("\r\n\r\n");
    if (end == std::string::npos)
        return std::nullopt;
    Answer answer{text->substr(0, text->find("\r\n")), text->substr(end + 4)};
    const std::string length = "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    if (text->substr(0, end + 2).find(length) == std::string::npos)
        return std::nullopt;
    return answer;
}

// A request as the client writes it.
std::string get(std::string_view target, std::string_view version = "HTTP/1.1")
{
    return "GET " + std::string(target) + " " + std::string(version) +
           "\r\nHost: www.vokar.test\r\nCookie: .\r\n\r\n";
}

// The client's encoding: everything but ASCII letters and digits as %XX.
std::string encode(std::string_view raw)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : raw) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string sms_target(std::string_view text, std::string_view to, std::string_view user,
                       std::string_view password, bool invite = false)
{
    const std::string auth =
        md5_hex("http://www.quillvoce.test/accounts/mosms.php" + std::string(user) +
                std::string(text) + std::string(to) + std::string(password));
    return "/accounts/mosms.php?msg=" + encode(text) + "&msisdn=" + std::string(to) +
           "&authuser=" + std::string(user) + "&auth=" + auth + (invite ? "&invite=1" : "");
}

std::string balance_target(std::string_view user, std::string_view password)
{
    return "/accounts/moaccount.php?authuser=" + std::string(user) + "&auth=" +
           md5_hex("http://www.quillvoce.test/accounts/moaccount.php" + std::string(user) +
                   std::string(password));
}

std::string signup_target(std::string_view user, std::string_view password,
                          std::string_view country, std::string_view nickname = {},
                          std::string_view email = {}, std::string_view salt = "719kqd")
{
    std::string target = "/accounts/mosignup.php?auth=" +
                         md5_hex("http://www.vokar.test/accounts/mosignup.php" + std::string(user) +
                                 std::string(password) + std::string(salt)) +
                         "&authuser=" + std::string(user) + "&password=" + encode(password);
    if (!nickname.empty())
        target += "&nickname=" + encode(nickname);
    if (!email.empty())
        target += "&email=" + encode(email);
    return target + "&countryCode=" + encode(country);
}

// The daemon running only the web service, with one account made through
// the create-account path (no XMPP server needed for the pages).
class WebServiceTest : public ::testing::Test {
protected:
    void SetUp() override { start({}); }

    void start(std::map<std::string, std::string> extra)
    {
        OperatorStackOptions options;
        options.services = {"web"};
        options.extra_config = std::move(extra);
        options.extra_config.emplace("web_request_timeout_ms", "400");
        stack_ = std::make_unique<OperatorStack>(options);
        ASSERT_TRUE(stack_->start()) << stack_->error();
        std::string error;
        const auto instance = operatord::XmppInstance::make(
            stack_->config(), stack_->config().get("xmpp_dir"), &error);
        ASSERT_TRUE(instance) << error;
        accounts_ = AccountManager::open(*instance, &error);
        ASSERT_TRUE(accounts_) << error;
        ASSERT_TRUE(accounts_->create({kUser, kPassword, "Amy", "", "27"})) << kUser;
    }

    uint16_t port() const { return stack_->config().web_port; }
    std::optional<Answer> fetch(std::string_view target, std::string_view version = "HTTP/1.1")
    {
        return round_trip(port(), get(target, version));
    }
    std::string body(std::string_view target, std::string_view version = "HTTP/1.1")
    {
        const auto answer = fetch(target, version);
        EXPECT_TRUE(answer) << target;
        if (answer) {
            EXPECT_EQ(answer->status_line, "HTTP/1.1 200 OK") << target;
        }
        return answer ? answer->body : std::string();
    }
    std::vector<OutboxMessage> outbox()
    {
        std::vector<OutboxMessage> rows;
        std::string error;
        EXPECT_TRUE(accounts_->store().outbox(&rows, &error)) << error;
        return rows;
    }

    std::unique_ptr<OperatorStack> stack_;
    std::unique_ptr<AccountManager> accounts_;
};

TEST_F(WebServiceTest, ServerListNamesTheStacksEndpointsToAnyone)
{
    start({{"sip_port", "15060"}, {"stun_port", "13478"}, {"sip_domain", "sip.example.test"}});
    const auto& c = stack_->config();
    const std::string expected =
        "0-SIP\n127.0.0.1:15060\n-JABBER\n127.0.0.1:" + std::to_string(c.xmpp_port) +
        "\n-PHP\n127.0.0.1:" + std::to_string(c.web_port) +
        "\n-STUN\n127.0.0.1:13478\n-DOMAIN\nsip.example.test\n-ENDLIST\n";
    EXPECT_EQ(body("/accounts/moservers.php?username=27821234567"), expected);
    EXPECT_EQ(body("/accounts/moservers.php?username=", "HTTP/1.0"), expected);
    EXPECT_EQ(body("/accounts/moservers.php"), expected);
    EXPECT_EQ(stack_->endpoint("web"), "127.0.0.1:" + std::to_string(c.web_port));
}

// Anyone may ask, so the answer must not tell who has an account: users
// without a code, known or not, get the operator's default.
TEST_F(WebServiceTest, PrefixIsTheAccountsCallingCodeAndRevealsNoAccount)
{
    start({{"web_default_country_code", "44"}});
    ASSERT_TRUE(accounts_->create({"4479001", "pw", "", "", ""}));
    ASSERT_TRUE(accounts_->create({"4479002", "pw", "", "", "44"}));
    EXPECT_EQ(body("/accounts/moprefix.php?username=27821234567"), "027");
    EXPECT_EQ(body("/accounts/moprefix.php?username=4479002"), "044");
    EXPECT_EQ(body("/accounts/moprefix.php?username=4479001"), "044");
    EXPECT_EQ(body("/accounts/moprefix.php?username=4479003"), "044");
    EXPECT_EQ(body("/accounts/moprefix.php"), "1missing username");
}

TEST_F(WebServiceTest, SmsIsQueuedOnceWithTheClientsAuthAndNeverWithoutIt)
{
    const std::string text = "Hi there + 50%-off, caf\xc3\xa9!";
    EXPECT_EQ(body(sms_target(text, "27831110000", kUser, "wrong")), "1authentication failed");
    EXPECT_EQ(body(sms_target(text, "27831110000", "15550000", kPassword)),
              "1authentication failed");
    // The digest is over the decoded text, not what travels.
    const std::string over_encoded =
        "/accounts/mosms.php?msg=" + encode(text) + "&msisdn=27831110000&authuser=" + kUser +
        "&auth=" +
        md5_hex("http://www.quillvoce.test/accounts/mosms.php" + std::string(kUser) + encode(text) +
                "27831110000" + kPassword);
    EXPECT_EQ(body(over_encoded), "1authentication failed");
    EXPECT_EQ(body(sms_target(text, "2783x", kUser, kPassword)),
              "1the recipient must be 1 to 20 digits");
    EXPECT_EQ(body(sms_target("", "27831110000", kUser, kPassword)), "1the message is empty");
    EXPECT_TRUE(outbox().empty());

    const auto before = std::time(nullptr);
    EXPECT_EQ(body(sms_target(text, "27831110000", kUser, kPassword)),
              "0Message accepted for delivery");
    auto rows = outbox();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].sender, kUser);
    EXPECT_EQ(rows[0].recipient, "27831110000");
    EXPECT_EQ(rows[0].text, text);
    EXPECT_FALSE(rows[0].invite);
    EXPECT_GE(rows[0].queued_at, before);
    EXPECT_LE(rows[0].queued_at, std::time(nullptr));

    EXPECT_EQ(body(sms_target("", "27831110000", kUser, kPassword, true)),
              "0Invitation accepted for delivery");
    rows = outbox();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[1].invite);
    EXPECT_EQ(rows[1].text, "");
}

TEST_F(WebServiceTest, BalanceStartsAtTheConfiguredCredit)
{
    start({{"web_initial_credit", "2.5"}, {"web_currency", "EUR"}});
    // The client asks for it over HTTP/1.0.
    EXPECT_EQ(body(balance_target(kUser, kPassword), "HTTP/1.0"), "0EUR 2.50");
    EXPECT_EQ(body(balance_target(kUser, kPassword)), "0EUR 2.50");
    EXPECT_EQ(body(balance_target(kUser, "s3cret"), "HTTP/1.0"), "1authentication failed");
    EXPECT_EQ(body("/accounts/moaccount.php?authuser=27821234567"), "1malformed query");
}

TEST_F(WebServiceTest, SignUpValuesAreCheckedBeforeAnythingIsMade)
{
    const auto absent = [&](const char* user) {
        std::string error;
        return accounts_->store().find(user, nullptr, &error) ==
               operatord::AccountStore::Lookup::absent;
    };
    EXPECT_EQ(body(signup_target("27830000001", "pw", "27", "", "", "wrong-salt")),
              "1authentication failed");
    EXPECT_EQ(body(signup_target("27830000001", "pw", "2a")),
              "1the country code must be 1 to 8 digits");
    EXPECT_EQ(body(signup_target("27830000001", "pw", "")),
              "1the country code must be 1 to 8 digits");
    EXPECT_EQ(body(signup_target("Amy", "pw", "27")).substr(0, 20), "1the user name 'Amy'");
    EXPECT_EQ(body(signup_target("27830000001", "", "27")), "1the password is empty");
    EXPECT_TRUE(absent("27830000001"));
    EXPECT_EQ(body(signup_target(kUser, "other", "27")),
              "1the number 27821234567 already has an account");
    // Each attempt with a valid digest counts: ten per source and hour.
    for (int i = 0; i < 5; ++i)
        body(signup_target(kUser, "other", "27"));
    EXPECT_EQ(body(signup_target("27830000002", "pw", "27")),
              "1too many sign-ups from this address; try again later");
    EXPECT_TRUE(absent("27830000002"));
}

// The SMS digest carries no time, nor the invite flag, nor where the text
// ends and the number begins: a captured request is taken once, in any of
// its variants, and each account is rate-limited besides.
TEST_F(WebServiceTest, ReplayedSmsIsQueuedOnceAndEachAccountIsRateLimited)
{
    start({{"web_sms_per_minute", "2"}, {"web_sms_per_hour", "5"}});
    const std::string captured = sms_target("hello", "27831110000", kUser, kPassword);
    EXPECT_EQ(body(captured), "0Message accepted for delivery");
    const std::string refused = "1this message was already accepted";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(body(captured), refused);
    const std::string auth = captured.substr(captured.find("&auth="));
    EXPECT_EQ(body("/accounts/mosms.php?msg=hello2&msisdn=7831110000&authuser=" +
                   std::string(kUser) + auth),
              refused);
    EXPECT_EQ(body(captured + "&invite=1"), refused);
    EXPECT_EQ(outbox().size(), 1u);

    EXPECT_EQ(body(sms_target("", "27831110000", kUser, kPassword, true)),
              "0Invitation accepted for delivery");
    EXPECT_EQ(body(sms_target("again", "27831110000", kUser, kPassword)),
              "1too many messages; try again in a minute");
    EXPECT_EQ(outbox().size(), 2u);

    // The hourly cap counts what the outbox already holds.
    const char* busy = "27830000009";
    ASSERT_TRUE(accounts_->create({busy, kPassword, "", "", "27"}));
    std::string error;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(accounts_->store().queue_message(
            {0, busy, "27831110000", "earlier", false, std::time(nullptr) - 600}, &error));
    EXPECT_EQ(body(sms_target("one more", "27831110000", busy, kPassword)),
              "1too many messages this hour; try again later");
}

TEST_F(WebServiceTest, AnythingButAPageGetsAnHttpError)
{
    const struct {
        std::string request;
        std::string status_line;
    } cases[] = {
        {get("/accounts/other.php"), "HTTP/1.1 404 Not Found"},
        {get("/accounts/"), "HTTP/1.1 404 Not Found"},
        {get("/moservers.php"), "HTTP/1.1 404 Not Found"},
        {get("/accounts/moservers.php/x"), "HTTP/1.1 404 Not Found"},
        {get("/accounts/MOSERVERS.PHP"), "HTTP/1.1 404 Not Found"},
        {"POST /accounts/mosms.php HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc",
         "HTTP/1.1 405 Method Not Allowed"},
        {get("/accounts/moservers.php", "HTTP/2.0"), "HTTP/1.1 505 HTTP Version Not Supported"},
        {"hello\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /accounts/moservers.php HTTP/1.1\r\nno colon\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /accounts/moservers.php HTTP/1.1\n\n", "HTTP/1.1 200 OK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const auto answer = round_trip(port(), c.request);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status_line, c.status_line);
    }
    for (const char* target :
         {"/accounts/moprefix.php?username=%2", "/accounts/moprefix.php?username=%G7",
          "/accounts/moprefix.php?username=1&username=2", "/accounts/moservers.php?username=%"})
        EXPECT_EQ(body(target), "1malformed query") << target;
    EXPECT_EQ(body("/accounts/mosms.php?msg=hi&msisdn=1&authuser=27821234567"), "1malformed query");
    EXPECT_EQ(body(sms_target("hi", "1", kUser, kPassword) + "&invite=yes"), "1malformed query");
}

TEST_F(WebServiceTest, OversizedOrStalledRequestsAreClosedUnanswered)
{
    // A head of exactly 8 KiB is still read.
    std::string padded = get("/accounts/moprefix.php?username=27821234567");
    padded.insert(padded.size() - 2,
                  "X-Pad: " + std::string(8192 - padded.size() - 9, 'p') + "\r\n");
    ASSERT_EQ(padded.size(), 8192u);
    const auto answer = round_trip(port(), padded);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "027");

    std::string one_over = padded;
    one_over.insert(one_over.find("X-Pad: ") + 7, "p");
    const std::string too_long[] = {
        std::string(9000, 'A'),
        "GET /accounts/moservers.php?" + std::string(8200, 'x') + " HTTP/1.1\r\n\r\n",
        one_over,
    };
    for (const auto& request : too_long) {
        Socket s = tcp_connect(port());
        send_all(s.fd(), request);
        EXPECT_EQ(read_to_close(s.fd()), "") << request.substr(0, 40);
    }

    // web_request_timeout_ms is 400 here.
    Socket stalled = tcp_connect(port());
    ASSERT_TRUE(send_all(stalled.fd(), "GET /accounts/moservers.php HTTP/1.1\r\nHost: x\r\n"));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(read_to_close(stalled.fd()), "");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
    Socket silent = tcp_connect(port());
    EXPECT_EQ(read_to_close(silent.fd()), "");

    EXPECT_EQ(body("/accounts/moprefix.php?username=27821234567"), "027");
}

TEST_F(WebServiceTest, GarbageAndRandomQueriesNeverStopTheService)
{
    std::mt19937 random(7);
    const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const std::string pages[] = {"moservers", "moprefix", "mosms", "moaccount", "mosignup"};
    const std::string alphabet =
        std::string("=&%+ 0123456789aAfFgG.msgisdnauthuserpasswordcountryCodeinvite") +
        std::string("\0\r\n\xff\x80", 5);
    for (int i = 0; i < 300; ++i) {
        std::string request;
        if (i % 3 == 0) {
            request.resize(pick(12000));
            for (auto& c : request)
                c = static_cast<char>(random());
            if (i % 2)
                request.insert(pick(request.size() + 1), "\r\n\r\n");
        } else {
            request = "GET /accounts/" + pages[pick(5)] + ".php?";
            for (size_t n = pick(300); n > 0; --n)
                request += alphabet[pick(alphabet.size())];
            request += " HTTP/1.1\r\n\r\n";
        }
        Socket s = tcp_connect(port());
        ASSERT_TRUE(s.valid()) << "request " << i;
        send_all(s.fd(), request);
        ::shutdown(s.fd(), SHUT_WR);
        ASSERT_TRUE(read_to_close(s.fd())) << "request " << i << " was not closed";
    }
    EXPECT_TRUE(stack_->running());
    EXPECT_EQ(body("/accounts/moprefix.php?username=27821234567"), "027");
    EXPECT_TRUE(outbox().empty());
}

TEST(WebService, StartRefusesAConfigurationItCannotServe)
{
    const struct {
        std::map<std::string, std::string> config;
        std::string complaint;
    } cases[] = {
        {{{"xmpp_dir", ""}}, "web: xmpp_dir is not set"},
        {{{"web_initial_credit", "5,00"}}, "web: web_initial_credit '5,00' is not an amount"},
        {{{"web_request_timeout_ms", "0"}}, "web: web_request_timeout_ms '0' is not a number"},
    };
    for (const auto& c : cases) {
        OperatorStackOptions options;
        options.services = {"web"};
        options.extra_config = c.config;
        OperatorStack stack(options);
        EXPECT_FALSE(stack.start());
        EXPECT_NE(stack.error().find("exited with status 1"), std::string::npos) << stack.error();
        EXPECT_NE(stack.error().find(c.complaint), std::string::npos) << stack.error();
    }
}

TEST(WebService, SignUpMakesAnAccountThatLogsInToXmppAtOnce)
{
    FullStack stack;
    ASSERT_TRUE(stack.start()) << stack.error();
    const auto& c = stack.config();
    EXPECT_EQ(stack.daemon().endpoint("web"), "127.0.0.1:" + std::to_string(c.web_port));

    const std::string password = "p@ss w+rd&x=%41";
    const auto answer = round_trip(
        c.web_port,
        get(signup_target("27834445555", password, "27", "Zo\xc3\xab", "zoe@example.test")));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "0Welcome to Vokar! Your account 27834445555 is ready.");
    EXPECT_EQ(log_in(c.xmpp_port, c.service_domain, "27834445555", password),
              XmppLogin::Result::success);

    std::string error;
    auto store = operatord::AccountStore::open(stack.account_db(), &error);
    ASSERT_TRUE(store) << error;
    operatord::Account row;
    ASSERT_EQ(store->find("27834445555", &row, &error), operatord::AccountStore::Lookup::found);
    EXPECT_EQ(row.password, password);
    EXPECT_EQ(row.nickname, "Zo\xc3\xab");
    EXPECT_EQ(row.email, "zoe@example.test");
    EXPECT_EQ(row.country_code, "27");

    // The XMPP server's own accounts are the web service's too.
    const auto balance = round_trip(c.web_port, get(balance_target("alice", "alice-pass")));
    ASSERT_TRUE(balance);
    EXPECT_EQ(balance->body, "0$ 5.00");
}

} // namespace
} // namespace vokar::test
