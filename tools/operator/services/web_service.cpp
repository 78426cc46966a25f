#include "tools/operator/services/web_service.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/operator/accounts/account_manager.h"
#include "tools/operator/loop/connection_set.h"
#include "tools/operator/loop/socket_util.h"
#include "tools/operator/loop/tcp_listener.h"
#include "tools/operator/loop/tcp_stream.h"
#include "tools/operator/services/account_pages.h"
#include "tools/operator/services/http_request.h"
#include "tools/operator/xmpp/xmpp_instance.h"

namespace vokar::operatord {
namespace {

constexpr long kMaxRequestTimeoutMs = 3600 * 1000;

std::optional<std::chrono::milliseconds> parse_timeout(const std::string& text)
{
    if (text.empty() || text.size() > 7 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long ms = std::stol(text);
    if (ms < 1 || ms > kMaxRequestTimeoutMs)
        return std::nullopt;
    return std::chrono::milliseconds(ms);
}

class WebService final : public Service {
public:
    WebService(EventLoop& loop, const platform::OperatorConfig& config, const Limits& limits,
               BufferBudget& budget)
        : loop_(loop), config_(config), limits_(limits), budget_(budget),
          listener_(loop, [this](int fd) { accept(fd); }),
          connections_(loop, limits.max_connections, limits.max_per_source)
    {
    }

    ~WebService() override
    {
        if (results_watch_)
            loop_.unwatch(results_watch_);
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        // A page in progress finishes first (a sign-up's tools are bounded
        // by their own time limit), so no account is left half made.
        if (worker_.joinable())
            worker_.join();
        if (results_fd_ >= 0)
            ::close(results_fd_);
    }

    bool start(std::string* error) override
    {
        const std::string timeout_text =
            config_.get("web_request_timeout_ms", std::to_string(limits_.request_timeout.count()));
        const auto timeout = parse_timeout(timeout_text);
        if (!timeout) {
            *error = "web_request_timeout_ms '" + timeout_text +
                     "' is not a number of ms from 1 to " + std::to_string(kMaxRequestTimeoutMs);
            return false;
        }
        request_timeout_ = *timeout;
        auto settings = AccountPages::settings_from(config_, error);
        if (!settings)
            return false;
        if (settings->signup_salt == platform::OperatorConfig().signup_salt)
            std::fprintf(stderr, "vokar-operatord: web: signup_salt is the built-in default, which "
                                 "anyone can read; write a random one with "
                                 "'vokar-accounts --config FILE new-salt'\n");
        const std::string directory = config_.get("xmpp_dir");
        if (directory.empty()) {
            *error = "xmpp_dir is not set: it names the XMPP service's instance directory "
                     "(vokar-xmpp --dir) whose accounts the pages serve";
            return false;
        }
        const auto instance = XmppInstance::make(config_, directory, error);
        if (!instance)
            return false;
        accounts_ = AccountManager::open(*instance, error);
        if (!accounts_)
            return false;
        pages_ = std::make_unique<AccountPages>(*accounts_, std::move(*settings));

        const auto address =
            configured_address("web_host", config_.web_host, config_.web_port, error);
        if (!address || !listener_.listen(*address, error))
            return false;
        results_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (results_fd_ >= 0)
            results_watch_ = loop_.watch(results_fd_, EPOLLIN, [this](uint32_t) { on_results(); });
        if (!results_watch_) {
            *error = std::string("cannot set up the page thread: ") + std::strerror(errno);
            return false;
        }
        worker_ = std::thread([this] { work(); });
        return true;
    }

    std::string endpoint() const override { return format_address(listener_.address()); }

private:
    // One client: its request head is read (bounded in size and time), the
    // answer comes from the page thread, and the connection closes after it.
    class Connection final : public TcpStream::Owner {
    public:
        Connection(WebService& service, int fd, uint64_t ticket, std::string source)
            : service_(service), source_(std::move(source)),
              stream_(service.loop_, *this, fd, false, TcpStream::kDefaultOutputLimit,
                      &service.budget_),
              ticket_(ticket)
        {
        }
        ~Connection() { cancel_timer(); }

        bool start()
        {
            if (!stream_.start())
                return false;
            stream_.set_idle_limit(service_.limits_.idle_timeout);
            timer_ = service_.loop_.add_timer(service_.request_timeout_, [this] {
                timer_ = 0;
                drop();
            });
            return true;
        }

        void on_data(TcpStream& stream, std::string_view bytes) override
        {
            if (head_complete_)
                return;
            head_.append(bytes.substr(0, kMaxRequestHead - head_.size()));
            const size_t length = scanner_.scan(head_);
            if (length == 0) {
                if (head_.size() >= kMaxRequestHead)
                    drop();
                return;
            }
            head_complete_ = true;
            cancel_timer();
            stream.set_reading(false);
            int status = 400;
            auto request = parse_request_head(std::string_view(head_).substr(0, length), &status);
            head_.clear();
            if (!request) {
                respond(http_answer(status, status == 505 ? "only HTTP/1.0 and HTTP/1.1\n"
                                                          : "malformed request\n"));
                return;
            }
            request->source = source_;
            service_.submit(ticket_, std::move(*request));
        }
        // A client may close its sending side once its request is out.
        void on_eof(TcpStream&) override
        {
            if (!head_complete_)
                drop();
        }
        void on_closed(TcpStream&) override { service_.forget(*this); }

        void respond(const std::string& answer)
        {
            stream_.write(answer);
            stream_.finish();
        }

        uint64_t ticket() const { return ticket_; }

    private:
        void cancel_timer()
        {
            if (timer_)
                service_.loop_.cancel_timer(timer_);
            timer_ = 0;
        }
        void drop()
        {
            if (dropped_)
                return;
            dropped_ = true;
            cancel_timer();
            stream_.close();
            service_.forget(*this);
        }

        WebService& service_;
        const std::string source_;
        TcpStream stream_;
        const uint64_t ticket_;
        std::string head_;
        RequestHeadScanner scanner_;
        bool head_complete_ = false;
        bool dropped_ = false;
        EventLoop::TimerId timer_ = 0;
    };

    void accept(int fd)
    {
        const uint32_t source = peer_ip(fd);
        if (!connections_.admits(source)) {
            ::close(fd);
            return;
        }
        const uint64_t ticket = next_ticket_++;
        char text[INET_ADDRSTRLEN] = "";
        const in_addr address{source};
        ::inet_ntop(AF_INET, &address, text, sizeof text);
        auto& connection =
            connections_.add(std::make_unique<Connection>(*this, fd, ticket, text), source);
        if (!connection.start()) {
            connections_.remove(&connection);
            return;
        }
        by_ticket_.emplace(ticket, &connection);
    }

    void forget(Connection& connection)
    {
        by_ticket_.erase(connection.ticket());
        connections_.remove(&connection);
    }

    void submit(uint64_t ticket, HttpRequest request)
    {
        {
            std::lock_guard lock(mutex_);
            jobs_.emplace_back(ticket, std::move(request));
        }
        wake_.notify_one();
    }

    // The page thread: answers in order of arrival.
    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (quit_)
                return;
            auto [ticket, request] = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            std::string problem;
            std::string answer = pages_->answer(request, &problem);
            if (!problem.empty())
                std::fprintf(stderr, "vokar-operatord: web: %s\n", problem.c_str());
            lock.lock();
            results_.emplace_back(ticket, std::move(answer));
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(results_fd_, &one, sizeof one);
        }
    }

    void on_results()
    {
        uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(results_fd_, &count, sizeof count);
        std::vector<std::pair<uint64_t, std::string>> results;
        {
            std::lock_guard lock(mutex_);
            results.swap(results_);
        }
        for (const auto& [ticket, answer] : results) {
            // The client may have gone while its page was made.
            const auto it = by_ticket_.find(ticket);
            if (it != by_ticket_.end())
                it->second->respond(answer);
        }
    }

    EventLoop& loop_;
    const platform::OperatorConfig config_;
    const Limits& limits_;
    BufferBudget& budget_;
    std::chrono::milliseconds request_timeout_{0};
    std::unique_ptr<AccountManager> accounts_; // used by the page thread only
    std::unique_ptr<AccountPages> pages_;
    TcpListener listener_;
    ConnectionSet<Connection> connections_;
    std::unordered_map<uint64_t, Connection*> by_ticket_;
    uint64_t next_ticket_ = 1;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<uint64_t, HttpRequest>> jobs_;
    std::vector<std::pair<uint64_t, std::string>> results_;
    bool quit_ = false;
    int results_fd_ = -1;
    EventLoop::WatchId results_watch_ = 0;
    std::thread worker_;
};

} // namespace

std::unique_ptr<Service> make_web_service(const ServiceContext& context)
{
    return std::make_unique<WebService>(context.loop, context.config, context.limits,
                                        context.budget);
}

} // namespace vokar::operatord
