#include "webapi/web_request.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "base/random.h"
#include "net/network_monitor.h"
#include "platform/crt_rand.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "webapi/web_answer_reader.h"

namespace vokar {

// Counts the workers and perform threads still running, for wait_idle and
// shutdown. Shared with the threads so an abandoned perform thread may
// report after the runner is gone.
struct WebRequestRunner::Tracker {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;

    void enter()
    {
        std::lock_guard lock(mutex);
        ++running;
    }
    void leave()
    {
        std::lock_guard lock(mutex);
        --running;
        idle.notify_all();
    }
    bool wait(uint32_t timeout_ms)
    {
        std::unique_lock lock(mutex);
        return idle.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return running == 0; });
    }
};

// The network exchange of one request, shared by its worker and its perform
// thread; the last of the two frees it.
struct WebRequestRunner::Exchange {
    // Fixed by the worker before the perform thread starts.
    std::string request_text;
    std::string host;
    uint16_t port = 0;
    std::string local_address;

    std::mutex mutex; // everything below; the socket's open, shutdown and close
    std::condition_variable changed;
    bool done = false;
    bool succeeded = false;
    std::wstring response;
    bool abandoned = false; // the worker stopped waiting: results are discarded
    bool stopped = false;   // the runner is shutting down: nothing is reported
    platform::Socket socket;
    std::atomic<bool> cancel{false};
    std::atomic<bool> worker_finished{false};

    // Records the answer body, or a failure without one (nullptr).
    void record(const std::string* body)
    {
        std::lock_guard lock(mutex);
        if (abandoned)
            return;
        succeeded = body && web_body_succeeded(*body);
        if (body && !body->empty())
            response = platform::to_wide(*body);
        done = true;
        changed.notify_all();
    }

    // Called with `mutex` held: drops whatever the perform thread records
    // later and ends its connect or receive.
    void abandon_locked()
    {
        abandoned = true;
        cancel = true;
        socket.shutdown();
        changed.notify_all();
    }
};

namespace {

using Exchange = WebRequestRunner::Exchange;

constexpr uint32_t kConnectTimeoutMs = 21000;
constexpr int kBindAttempts = 8;

// Binds one of the local ports 7000-7999; a port still held by an earlier
// connection is replaced by another draw.
bool bind_local_port(platform::Socket& socket, uint32_t local)
{
    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        const auto port = static_cast<uint16_t>(7000 + platform::crt_rand() % 1000);
        const int error = socket.bind(local, port);
        if (error == platform::kWsaOk)
            return true;
        if (error != platform::kWsaEaddrinuse)
            return false;
    }
    return false;
}

bool talk(Exchange& exchange, uint32_t remote, uint32_t local, std::string* body)
{
    platform::Socket& socket = exchange.socket;
    if (!bind_local_port(socket, local))
        return false;
    if (socket.connect(remote, exchange.port, kConnectTimeoutMs, &exchange.cancel) !=
        platform::kWsaOk)
        return false;
    size_t sent = 0;
    const std::string& request = exchange.request_text;
    if (socket.send(request.data(), request.size(), &sent) != platform::kWsaOk ||
        sent != request.size())
        return false;

    WebAnswerReader reader;
    std::string chunk(WebRequestRunner::kReceiveBytes, '\0');
    while (reader.state() == WebAnswerReader::State::Reading) {
        size_t got = 0;
        const int error = socket.receive(chunk.data(), chunk.size(), &got);
        if (error != platform::kWsaOk || got == 0)
            reader.close(error == platform::kWsaOk);
        else
            reader.feed(std::string_view(chunk.data(), got));
    }
    if (reader.state() != WebAnswerReader::State::Complete || exchange.cancel)
        return false;
    *body = std::string(reader.body());
    return true;
}

// The perform thread: one connection, one request, one answer.
void perform(Exchange& exchange)
{
    const uint32_t remote = platform::resolve_host(exchange.host);
    const uint32_t local =
        exchange.local_address.empty() ? 0 : platform::parse_ipv4(exchange.local_address);
    if (remote == platform::kAddressNone || local == platform::kAddressNone) {
        exchange.record(nullptr);
        return;
    }
    bool opened = false;
    {
        std::lock_guard lock(exchange.mutex);
        opened = !exchange.cancel &&
                 exchange.socket.open(platform::Socket::Type::Tcp) == platform::kWsaOk;
    }
    if (!opened) {
        exchange.record(nullptr);
        return;
    }
    std::string body;
    const bool answered = talk(exchange, remote, local, &body);
    {
        std::lock_guard lock(exchange.mutex);
        exchange.socket.close();
    }
    exchange.record(answered ? &body : nullptr);
}

} // namespace

WebBearer bearer_of(const NetworkMonitor& monitor)
{
    return {[&monitor] { return monitor.connected(); },
            [&monitor] { return monitor.local_address(); }};
}

WebRequestRunner::WebRequestRunner(WebBearer bearer, std::function<ServerEndpoint()> endpoint,
                                   WebRequestUi* ui, platform::Clock& clock)
    : bearer_(std::move(bearer)), endpoint_(std::move(endpoint)), ui_(ui), clock_(clock),
      tracker_(std::make_shared<Tracker>())
{
}

WebRequestRunner::~WebRequestRunner()
{
    {
        std::lock_guard lock(workers_mutex_);
        stopping_ = true;
        for (Worker& worker : workers_) {
            std::lock_guard exchange_lock(worker.exchange->mutex);
            worker.exchange->stopped = true;
            worker.exchange->abandon_locked();
        }
    }
    // No worker is added once stopping_ is set, so the list is stable here.
    for (Worker& worker : workers_)
        worker.thread.join();
    // Shut-down exchanges end at once, unless a name lookup is still running;
    // those only touch their own state.
    tracker_->wait(1000);
}

void WebRequestRunner::start(std::shared_ptr<WebRequest> request)
{
    if (request->show_messages && ui_)
        ui_->show_progress(request->progress_text, request->on_progress_key);
    auto exchange = std::make_shared<Exchange>();
    {
        std::lock_guard lock(workers_mutex_);
        if (stopping_)
            return;
        reap_locked();
        tracker_->enter();
        try {
            workers_.push_back({platform::Thread([this, request, exchange, tracker = tracker_] {
                                    work(*request, exchange);
                                    exchange->worker_finished = true;
                                    tracker->leave();
                                }),
                                exchange});
        } catch (const std::system_error&) {
            tracker_->leave();
            request->done = true;
            request->succeeded = false;
            finish(*request, true);
            return;
        }
    }
}

bool WebRequestRunner::launch(const std::shared_ptr<Exchange>& exchange)
{
    tracker_->enter();
    try {
        platform::Thread([exchange, tracker = tracker_] {
            perform(*exchange);
            tracker->leave();
        }).detach();
    } catch (const std::system_error&) {
        tracker_->leave();
        return false;
    }
    return true;
}

void WebRequestRunner::work(WebRequest& request, const std::shared_ptr<Exchange>& exchange)
{
    const uint32_t start = clock_.tick_count();
    bool launched = false;
    if (bearer_.network_available && bearer_.network_available()) {
        const ServerEndpoint endpoint = endpoint_();
        exchange->request_text = request.request_text;
        exchange->host = request.host_override.empty() ? endpoint.host : request.host_override;
        exchange->port = static_cast<uint16_t>(endpoint.port);
        exchange->local_address = bearer_.local_address ? bearer_.local_address() : std::string();
        seed_random_once();
        launched = launch(exchange);
    }
    if (!launched)
        exchange->record(nullptr);

    bool in_time = false;
    {
        std::unique_lock lock(exchange->mutex);
        for (;;) {
            if (exchange->done || exchange->stopped)
                break;
            const uint32_t elapsed = clock_.tick_count() - start;
            if (elapsed >= kTimeLimitMs)
                break;
            exchange->changed.wait_for(
                lock, std::chrono::milliseconds(std::min(kPollMs, kTimeLimitMs - elapsed)));
        }
        if (exchange->stopped)
            return;
        in_time = exchange->done;
        if (!in_time)
            exchange->abandon_locked();
        request.done = exchange->done;
        request.succeeded = exchange->succeeded;
        request.response = exchange->response;
    }
    finish(request, in_time);
}

void WebRequestRunner::finish(WebRequest& request, bool in_time)
{
    const std::wstring payload =
        request.response.empty() ? std::wstring() : request.response.substr(1);
    if (in_time && request.succeeded && request.on_success)
        request.on_success(payload);
    if (!request.show_messages || !ui_)
        return;
    if (!in_time)
        ui_->show_message(request.failure_text, true, MessagePlacement::ReplaceCurrent);
    else if (!request.succeeded)
        ui_->show_message(request.failure_text, true, MessagePlacement::ReplaceProgress);
    else
        ui_->show_message(request.append_response ? request.success_text + payload
                                                  : request.success_text,
                          false, MessagePlacement::ReplaceProgress);
}

bool WebRequestRunner::wait_idle(uint32_t timeout_ms)
{
    const bool idle = tracker_->wait(timeout_ms);
    std::lock_guard lock(workers_mutex_);
    reap_locked();
    return idle;
}

void WebRequestRunner::reap_locked()
{
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->exchange->worker_finished) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace vokar
