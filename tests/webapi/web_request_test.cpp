#include "webapi/account_web_api.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "tests/net/loopback_peer.h"

namespace vokar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One scripted HTTP connection on 127.0.0.1: the script runs on its own
// thread; every socket wait has a time-out.
class HttpPeer {
public:
    struct Seen {
        std::string request;
        uint16_t client_port = 0;
        bool client_closed = false; // the client closed before the script ended
    };

    HttpPeer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa = test::loopback(0);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(listener_, 4);
        port_ = test::bound_port(listener_);
    }
    ~HttpPeer()
    {
        if (script_.joinable())
            script_.join();
        ::close(listener_);
    }
    uint16_t port() const { return port_; }

    // Accepts one connection, reads the request, writes `chunks` with pauses,
    // then closes, or with `hold` waits for the client to close first.
    void serve(std::vector<std::string> chunks, bool hold = false, int accept_ms = 5000)
    {
        script_ = std::thread([this, chunks = std::move(chunks), hold, accept_ms] {
            Seen seen;
            test::set_timeout(listener_, accept_ms);
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd >= 0) {
                sockaddr_in peer{};
                socklen_t len = sizeof peer;
                ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len);
                seen.client_port = ntohs(peer.sin_port);
                test::set_timeout(fd, 5000);
                char c;
                while (seen.request.find("\r\n\r\n") == std::string::npos &&
                       ::recv(fd, &c, 1, 0) == 1)
                    seen.request += c;
                request_seen_.set_value();
                for (const std::string& chunk : chunks) {
                    ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
                    std::this_thread::sleep_for(50ms);
                }
                char buf[256];
                if (hold) {
                    // An orderly close, or a reset when the client left data unread.
                    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                    seen.client_closed =
                        n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
                }
                ::close(fd);
            } else {
                request_seen_.set_value();
            }
            seen_.set_value(seen);
        });
    }
    bool wait_request()
    {
        return request_seen_.get_future().wait_for(5s) == std::future_status::ready;
    }
    Seen seen()
    {
        auto future = seen_.get_future();
        return future.wait_for(10s) == std::future_status::ready ? future.get() : Seen{};
    }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread script_;
    std::promise<void> request_seen_;
    std::promise<Seen> seen_;
};

// Records the UI calls as text, e.g. "progress Checking balance" or
// "error Service unavailable at present [current]".
class RecordingUi : public WebRequestUi {
public:
    void show_progress(const std::wstring& text, std::function<void(int)>) override
    {
        add(L"progress " + text);
    }
    void hide_progress() override {}
    void show_message(const std::wstring& text, bool error, MessagePlacement placement) override
    {
        add((error ? L"error " : L"info ") + text +
            (placement == MessagePlacement::ReplaceCurrent ? L" [current]" : L""));
    }
    std::vector<std::wstring> calls()
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void add(std::wstring call)
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::wstring> calls_;
};

std::string answer(std::string_view status, std::string_view body)
{
    return "HTTP/1.1 " + std::string(status) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

class WebRequestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Parameterised tests are named "Name/N": keep the directory one level deep.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::path(::testing::TempDir()) /
               ("vokar_webapi_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        settings_ = std::make_unique<SettingsStore>((dir_ / "__settings").string(), config_);
        settings_->set(&Settings::username, L"+27821234567");
        settings_->set(&Settings::password, L"secret");
        settings_->server_list(SettingsStore::kWebList).append({"127.0.0.1", peer_.port()});
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::unique_ptr<AccountWebApi> api(platform::Clock& clock = platform::system_clock())
    {
        WebBearer bearer{[this] { return network_.load(); },
                         [] { return std::string("127.0.0.1"); }};
        return std::make_unique<AccountWebApi>(*settings_, config_, bearer, &ui_, clock);
    }
    // The settings as a fresh store reads them from the file.
    std::unique_ptr<SettingsStore> reloaded()
    {
        return std::make_unique<SettingsStore>(settings_->path(), config_);
    }

    fs::path dir_;
    platform::OperatorConfig config_;
    std::unique_ptr<SettingsStore> settings_;
    HttpPeer peer_;
    RecordingUi ui_;
    std::atomic<bool> network_{true};
};

using Calls = std::vector<std::wstring>;

struct ShownCase {
    const char* name;
    void (*start)(AccountWebApi&, std::atomic<int>& callbacks);
    std::string path;
    std::vector<std::string> chunks;
    Calls calls;
    int callbacks;
};

void PrintTo(const ShownCase& c, std::ostream* os)
{
    *os << c.name;
}

class ShownRequestTest : public WebRequestTest, public ::testing::WithParamInterface<ShownCase> {};

TEST_P(ShownRequestTest, ProgressThenMessage)
{
    const ShownCase& c = GetParam();
    peer_.serve(c.chunks);
    std::atomic<int> callbacks{0};
    auto web = api();
    c.start(*web, callbacks);
    ASSERT_TRUE(web->wait_idle(10000));
    const HttpPeer::Seen seen = peer_.seen();
    EXPECT_EQ(seen.request.rfind("GET " + c.path, 0), 0u) << seen.request;
    EXPECT_GE(seen.client_port, 7000);
    EXPECT_LE(seen.client_port, 7999);
    EXPECT_EQ(ui_.calls(), c.calls);
    EXPECT_EQ(callbacks.load(), c.callbacks);
}

void sms(AccountWebApi& web, std::atomic<int>& sent)
{
    web.send_sms(L"+27831112222", L"hi there ", [&sent] { ++sent; });
}
void invite(AccountWebApi& web, std::atomic<int>&)
{
    web.send_invitation(L"27831112222");
}

const std::wstring kSmsProgress = L"progress Sending message";
const std::wstring kUnavailable = L"error Service unavailable at present";

INSTANTIATE_TEST_SUITE_P(
    Requests, ShownRequestTest,
    ::testing::Values(ShownCase{"BalanceShowsThePayload",
                                [](AccountWebApi& w, auto&) { w.check_balance(); },
                                "/accounts/moaccount.php",
                                {answer("200 OK", "0R 12.50")},
                                {L"progress Checking balance", L"info R 12.50"},
                                0},
                      ShownCase{"SmsSentEmptiesTheFields",
                                sms,
                                "/accounts/mosms.php",
                                {answer("200 OK", "0")},
                                {kSmsProgress, L"info Message sent"},
                                1},
                      ShownCase{"SmsRefusedKeepsTheFields",
                                sms,
                                "/accounts/mosms.php",
                                {answer("200 OK", "1")},
                                {kSmsProgress, kUnavailable},
                                0},
                      ShownCase{"ErrorPageIsAFailure",
                                sms,
                                "/accounts/mosms.php",
                                {answer("502 Bad Gateway", "<html>")},
                                {kSmsProgress, kUnavailable},
                                0},
                      ShownCase{"EmptyBodyIsAFailure",
                                invite,
                                "/accounts/mosms.php",
                                {answer("200 OK", "")},
                                {L"progress Sending invite", kUnavailable},
                                0},
                      ShownCase{"InviteSentWithoutLength",
                                invite,
                                "/accounts/mosms.php",
                                {"HTTP/1.1 200 OK\r\n\r\n", "0"},
                                {L"progress Sending invite", L"info Invite sent"},
                                0},
                      ShownCase{"SignUpRefused",
                                [](AccountWebApi& w, auto&) {
                                    w.create_account(L"+2784", L"p", L"n", L"e", L"27");
                                },
                                "/accounts/mosignup.php",
                                {answer("200 OK", "1taken")},
                                {L"progress Creating account", L"error Account creation failed"},
                                0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebRequestTest, DialingPrefixStoredSanitisedAndSaved)
{
    peer_.serve({answer("200 OK", "000\r\n")});
    auto web = api();
    web->fetch_dialing_prefix();
    ASSERT_TRUE(web->wait_idle(10000));
    EXPECT_EQ(reloaded()->get(&Settings::dialing_prefix), L"00");
    EXPECT_TRUE(ui_.calls().empty());
}

TEST_F(WebRequestTest, ServerListWithoutLengthReadUntilCloseAppliedAndSaved)
{
    // The list arrives in two segments; the second one must not be lost.
    peer_.serve({"HTTP/1.1 200 OK\r\n\r\n0-JABBER\n127.0.0.1:5999\n", "-DOMAIN\nx.test\n"});
    auto web = api();
    web->fetch_servers();
    ASSERT_TRUE(web->wait_idle(10000));
    EXPECT_EQ(peer_.seen().request.rfind("GET /accounts/moservers.php?username=27821234567 ", 0),
              0u);
    const auto stored = reloaded();
    EXPECT_EQ(stored->server_list(SettingsStore::kXmppList).entries(),
              (std::vector<ServerEndpoint>{{"127.0.0.1", 5999}}));
    EXPECT_EQ(stored->get(&Settings::domain), "x.test");
}

TEST_F(WebRequestTest, SilentFailuresChangeNothing)
{
    const std::vector<std::string> answers[] = {
        {answer("404 Not Found", "0-JABBER\nbad:1\n")},
        {answer("200 OK", "1")},
        // Over the size cap without a length: the client stops reading.
        {"HTTP/1.1 200 OK\r\n\r\n0-JABBER\n", std::string(70000, 'x')},
    };
    for (const auto& chunks : answers) {
        HttpPeer peer;
        settings_->server_list(SettingsStore::kWebList).clear();
        settings_->server_list(SettingsStore::kWebList).append({"127.0.0.1", peer.port()});
        peer.serve(chunks, true);
        auto web = api();
        web->fetch_servers();
        ASSERT_TRUE(web->wait_idle(10000));
        EXPECT_TRUE(peer.seen().client_closed);
        EXPECT_TRUE(settings_->server_list(SettingsStore::kXmppList).entries().empty());
        EXPECT_FALSE(fs::exists(settings_->path()));
    }
}

TEST_F(WebRequestTest, NoNetworkFailsWithoutConnecting)
{
    network_ = false;
    auto web = api();
    web->check_balance();
    ASSERT_TRUE(web->wait_idle(5000));
    EXPECT_EQ(ui_.calls(), (Calls{L"progress Checking balance", kUnavailable}));
    peer_.serve({}, false, 200);
    EXPECT_TRUE(peer_.seen().request.empty()) << "nothing connected";
}

TEST_F(WebRequestTest, TimeLimitClosesTheSocketAndDropsTheLateAnswer)
{
    platform::ManualClock clock(0xFFFFFFFFu - 1000); // the limit spans the tick counter's wrap
    peer_.serve({}, true);
    std::atomic<int> sent{0};
    auto web = api(clock);
    web->send_sms(L"27831112222", L"x", [&sent] { ++sent; });
    ASSERT_TRUE(peer_.wait_request());
    clock.advance(WebRequestRunner::kTimeLimitMs - 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(WebRequestRunner::kPollMs + 200));
    EXPECT_EQ(ui_.calls(), Calls{kSmsProgress}) << "still within the limit";
    clock.advance(1);
    ASSERT_TRUE(web->wait_idle(5000));
    EXPECT_TRUE(peer_.seen().client_closed);
    EXPECT_EQ(ui_.calls(), (Calls{kSmsProgress, kUnavailable + L" [current]"}));
    EXPECT_EQ(sent.load(), 0);
}

TEST_F(WebRequestTest, DestroyedWhileWaitingStopsQuietly)
{
    peer_.serve({}, true);
    auto web = api();
    web->fetch_servers();
    web->check_balance(); // the second connection is never accepted
    ASSERT_TRUE(peer_.wait_request());
    const auto before = std::chrono::steady_clock::now();
    web.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_TRUE(peer_.seen().client_closed);
    EXPECT_EQ(ui_.calls(), Calls{L"progress Checking balance"});
    EXPECT_FALSE(fs::exists(settings_->path()));
}

} // namespace
} // namespace vokar
