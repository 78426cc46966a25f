#include "tools/operator/loop/resolver.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "tools/operator/loop/socket_util.h"

namespace vokar::operatord {

// State shared with the worker thread, which may outlive the Resolver while
// it sits in a slow lookup; the last owner closes the event descriptor.
struct Resolver::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<RequestId, std::string>> jobs;
    std::vector<std::pair<RequestId, std::optional<in_addr>>> results;
    bool quit = false;
    int event_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    ~Shared()
    {
        if (event_fd >= 0)
            ::close(event_fd);
    }
};

Resolver::Resolver(EventLoop& loop) : loop_(loop), shared_(std::make_shared<Shared>())
{
    if (shared_->event_fd >= 0)
        watch_ = loop_.watch(shared_->event_fd, EPOLLIN, [this](uint32_t) { on_results(); });
}

Resolver::~Resolver()
{
    if (watch_)
        loop_.unwatch(watch_);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->quit = true;
        shared_->jobs.clear();
    }
    shared_->wake.notify_all();
}

Resolver::RequestId Resolver::resolve(const std::string& host, Callback callback)
{
    const RequestId id = next_id_++;
    pending_.emplace(id, std::move(callback));
    const auto numeric = parse_ipv4(host);
    if (numeric || !plausible_host_name(host) || !watch_) {
        loop_.defer([this, id, numeric] { deliver(id, numeric); });
        return id;
    }
    start_worker();
    bool queued = false;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->jobs.size() < kMaxQueued) {
            shared_->jobs.emplace_back(id, host);
            queued = true;
        }
    }
    if (!queued) {
        loop_.defer([this, id] { deliver(id, std::nullopt); });
        return id;
    }
    shared_->wake.notify_one();
    return id;
}

void Resolver::cancel(RequestId id)
{
    if (pending_.erase(id) == 0)
        return;
    std::lock_guard lock(shared_->mutex);
    auto& jobs = shared_->jobs;
    const auto it =
        std::find_if(jobs.begin(), jobs.end(), [id](const auto& job) { return job.first == id; });
    if (it != jobs.end())
        jobs.erase(it);
}

void Resolver::start_worker()
{
    if (worker_started_)
        return;
    worker_started_ = true;
    // Detached: shutdown must not wait for a name server.
    std::thread([shared = shared_] {
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->wake.wait(lock, [&] { return shared->quit || !shared->jobs.empty(); });
            if (shared->quit)
                return;
            auto [id, host] = std::move(shared->jobs.front());
            shared->jobs.pop_front();
            lock.unlock();
            const auto address = resolve_ipv4_blocking(host);
            lock.lock();
            if (shared->quit)
                return;
            shared->results.emplace_back(id, address);
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(shared->event_fd, &one, sizeof one);
        }
    }).detach();
}

void Resolver::deliver(RequestId id, std::optional<in_addr> address)
{
    const auto it = pending_.find(id);
    if (it == pending_.end())
        return; // cancelled
    Callback callback = std::move(it->second);
    pending_.erase(it);
    callback(address);
}

void Resolver::on_results()
{
    uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(shared_->event_fd, &count, sizeof count);
    std::vector<std::pair<RequestId, std::optional<in_addr>>> results;
    {
        std::lock_guard lock(shared_->mutex);
        results.swap(shared_->results);
    }
    for (const auto& [id, address] : results)
        deliver(id, address);
}

} // namespace vokar::operatord
