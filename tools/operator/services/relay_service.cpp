#include "tools/operator/services/relay_service.h"

#include "tools/operator/services/bound_udp_socket.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>

#include "tools/operator/loop/socket_util.h"

namespace vokar::operatord {
namespace {

using Clock = std::chrono::steady_clock;

// Voice packet header: version 2 in the top bits of the first byte, the
// SSRC in bytes 8..11 (big-endian).
constexpr size_t kHeaderSize = 12;
constexpr uint8_t kVersionMask = 0xC0;
constexpr uint8_t kVersion2 = 0x80;
// Delayed packets waiting at once, over all pairs; further ones are dropped.
constexpr size_t kMaxDelayed = 4096;
// A reordered packet is held back this much beyond its delay, so the
// packets after it (60 ms apart for voice) overtake it.
constexpr std::chrono::milliseconds kReorderHold{100};

struct RelaySettings {
    std::chrono::milliseconds idle{60000};
    size_t max_pairs = 4096;
    unsigned loss_percent = 0;
    unsigned duplicate_percent = 0;
    unsigned reorder_percent = 0;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds jitter{0};
    uint32_t seed = 1;
};

// A decimal `key` from `min` to `max` into *value (unchanged when absent).
bool relay_number(const platform::OperatorConfig& config, std::string_view key, uint64_t min,
                  uint64_t max, uint64_t* value, std::string* error)
{
    const auto it = config.extra.find(key);
    if (it == config.extra.end())
        return true;
    const std::string& text = it->second;
    uint64_t number = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
        if (c < '0' || c > '9') {
            ok = false;
            break;
        }
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || number < min || number > max) {
        *error = std::string(key) + " '" + text + "' is not a number from " + std::to_string(min) +
                 " to " + std::to_string(max);
        return false;
    }
    *value = number;
    return true;
}

bool read_settings(const platform::OperatorConfig& config, RelaySettings* settings,
                   std::string* error)
{
    constexpr uint64_t kHour = 3600 * 1000;
    uint64_t idle = static_cast<uint64_t>(settings->idle.count());
    uint64_t pairs = settings->max_pairs;
    uint64_t loss = 0, duplicate = 0, reorder = 0, delay = 0, jitter = 0;
    uint64_t seed = settings->seed;
    if (!relay_number(config, "relay_idle_ms", 1, kHour, &idle, error) ||
        !relay_number(config, "relay_max_pairs", 1, 1000000, &pairs, error) ||
        !relay_number(config, "relay_loss_percent", 0, 100, &loss, error) ||
        !relay_number(config, "relay_duplicate_percent", 0, 100, &duplicate, error) ||
        !relay_number(config, "relay_reorder_percent", 0, 100, &reorder, error) ||
        !relay_number(config, "relay_delay_ms", 0, 10000, &delay, error) ||
        !relay_number(config, "relay_jitter_ms", 0, 10000, &jitter, error) ||
        !relay_number(config, "relay_seed", 0, UINT32_MAX, &seed, error))
        return false;
    settings->idle = std::chrono::milliseconds(idle);
    settings->max_pairs = pairs;
    settings->loss_percent = static_cast<unsigned>(loss);
    settings->duplicate_percent = static_cast<unsigned>(duplicate);
    settings->reorder_percent = static_cast<unsigned>(reorder);
    settings->delay = std::chrono::milliseconds(delay);
    settings->jitter = std::chrono::milliseconds(jitter);
    settings->seed = static_cast<uint32_t>(seed);
    return true;
}

uint64_t address_key(const sockaddr_in& address)
{
    return (uint64_t{address.sin_addr.s_addr} << 16) | address.sin_port;
}

class RelayService final : public Service {
public:
    RelayService(EventLoop& loop, const platform::OperatorConfig& config)
        : loop_(loop), config_(config), host_(config.relay_host), port_(config.relay_port)
    {
    }

    ~RelayService() override
    {
        if (sweep_timer_)
            loop_.cancel_timer(sweep_timer_);
        if (delay_timer_)
            loop_.cancel_timer(delay_timer_);
        if (watch_)
            loop_.unwatch(watch_);
        if (fd_ >= 0)
            ::close(fd_);
        for (const auto& [ssrc, pair] : pairs_)
            report(ssrc, pair, "closed");
        if (malformed_ > 0 || unpaired_ > 0)
            std::fprintf(stderr,
                         "vokar-operatord: relay: dropped %" PRIu64 " malformed and %" PRIu64
                         " beyond the table\n",
                         malformed_, unpaired_);
    }

    bool start(std::string* error) override
    {
        if (!read_settings(config_, &settings_, error))
            return false;
        random_.seed(settings_.seed);
        const auto address = configured_address("relay_host", host_, port_, error);
        if (!address)
            return false;
        fd_ = open_bound_socket(SOCK_DGRAM, *address, error);
        if (fd_ < 0)
            return false;
        bound_ = local_address(fd_).value_or(*address);
        watch_ = loop_.watch(fd_, EPOLLIN, [this](uint32_t) { on_readable(); });
        if (watch_ == 0)
            return false;
        schedule_sweep();
        return true;
    }

    std::string endpoint() const override { return format_address(bound_); }

private:
    struct Pair {
        sockaddr_in first{};
        sockaddr_in second{};
        bool paired = false;
        Clock::time_point last_seen;
        uint64_t forwarded = 0;
        uint64_t dropped = 0;
    };

    struct Delayed {
        sockaddr_in to;
        std::string bytes;
    };

    void on_readable()
    {
        drain_datagrams(loop_, fd_, 64, [&](const sockaddr_in& from, std::string_view bytes) {
            on_datagram(from, bytes);
            return true;
        });
    }

    void on_datagram(const sockaddr_in& from, std::string_view bytes)
    {
        if (bytes.size() < kHeaderSize ||
            (static_cast<uint8_t>(bytes[0]) & kVersionMask) != kVersion2) {
            ++malformed_;
            return;
        }
        const auto byte = [&](size_t i) { return uint32_t{static_cast<uint8_t>(bytes[i])}; };
        const uint32_t ssrc = byte(8) << 24 | byte(9) << 16 | byte(10) << 8 | byte(11);

        auto it = pairs_.find(ssrc);
        if (it == pairs_.end()) {
            if (pairs_.size() >= settings_.max_pairs) {
                ++unpaired_;
                return;
            }
            it = pairs_.emplace(ssrc, Pair{.first = from, .last_seen = Clock::now()}).first;
        }
        Pair& pair = it->second;
        const uint64_t source = address_key(from);
        const sockaddr_in* to = nullptr;
        if (source == address_key(pair.first)) {
            if (pair.paired)
                to = &pair.second;
        } else if (!pair.paired) {
            pair.second = from;
            pair.paired = true;
            to = &pair.first;
        } else if (source == address_key(pair.second)) {
            to = &pair.first;
        }
        if (!to) {
            // Alone so far, or a third address with a taken SSRC: never sent
            // anywhere, and it does not keep the pair alive.
            ++pair.dropped;
            return;
        }
        pair.last_seen = Clock::now();
        forward(pair, *to, bytes);
    }

    unsigned roll() { return static_cast<unsigned>(random_() % 100); }

    void forward(Pair& pair, const sockaddr_in& to, std::string_view bytes)
    {
        // Every roll is made for every packet, so one seed gives one
        // sequence of decisions whatever the settings.
        const bool lose = roll() < settings_.loss_percent;
        const bool duplicate = roll() < settings_.duplicate_percent;
        const bool reorder = roll() < settings_.reorder_percent;
        const auto jitter_span = static_cast<uint64_t>(settings_.jitter.count()) + 1;
        const auto jitter = std::chrono::milliseconds(random_() % jitter_span);
        if (lose) {
            ++pair.dropped;
            return;
        }
        auto delay = settings_.delay + jitter + (reorder ? kReorderHold : Clock::duration{});
        const int copies = duplicate ? 2 : 1;
        for (int i = 0; i < copies; ++i) {
            if (delay == Clock::duration::zero()) {
                send(pair, to, bytes);
            } else if (delayed_.size() < kMaxDelayed) {
                delayed_.emplace(Clock::now() + delay, Delayed{to, std::string(bytes)});
                ++pair.forwarded;
            } else {
                ++pair.dropped;
            }
        }
        arm_delay_timer();
    }

    void send(Pair& pair, const sockaddr_in& to, std::string_view bytes)
    {
        // A full send buffer drops the packet, as the network might.
        const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent < 0)
            ++pair.dropped;
        else
            ++pair.forwarded;
    }

    void arm_delay_timer()
    {
        if (delayed_.empty())
            return;
        const auto due = delayed_.begin()->first;
        if (delay_timer_ && due >= delay_due_)
            return;
        if (delay_timer_)
            loop_.cancel_timer(delay_timer_);
        delay_due_ = due;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
            std::max(due - Clock::now(), Clock::duration::zero()));
        delay_timer_ = loop_.add_timer(wait, [this] {
            delay_timer_ = 0;
            send_due();
        });
    }

    void send_due()
    {
        const auto now = Clock::now();
        while (!delayed_.empty() && delayed_.begin()->first <= now) {
            const Delayed& packet = delayed_.begin()->second;
            // Counted when queued; a failed send is the network's loss.
            ::sendto(fd_, packet.bytes.data(), packet.bytes.size(), MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&packet.to), sizeof packet.to);
            delayed_.erase(delayed_.begin());
        }
        arm_delay_timer();
    }

    void schedule_sweep()
    {
        const auto period = std::max(settings_.idle / 4, std::chrono::milliseconds(10));
        sweep_timer_ = loop_.add_timer(period, [this] {
            sweep_timer_ = 0;
            forget_idle();
            schedule_sweep();
        });
    }

    void forget_idle()
    {
        const auto now = Clock::now();
        for (auto it = pairs_.begin(); it != pairs_.end();) {
            if (now - it->second.last_seen >= settings_.idle) {
                report(it->first, it->second, "idle");
                it = pairs_.erase(it);
            } else {
                ++it;
            }
        }
    }

    static void report(uint32_t ssrc, const Pair& pair, const char* why)
    {
        const std::string second = pair.paired ? format_address(pair.second) : "-";
        std::fprintf(stderr,
                     "vokar-operatord: relay: ssrc %08" PRIx32 " %s <-> %s %s: forwarded %" PRIu64
                     " dropped %" PRIu64 "\n",
                     ssrc, format_address(pair.first).c_str(), second.c_str(), why, pair.forwarded,
                     pair.dropped);
    }

    EventLoop& loop_;
    const platform::OperatorConfig& config_;
    std::string host_;
    uint16_t port_;
    RelaySettings settings_;
    std::mt19937 random_;
    int fd_ = -1;
    sockaddr_in bound_{};
    EventLoop::WatchId watch_ = 0;
    EventLoop::TimerId sweep_timer_ = 0;
    EventLoop::TimerId delay_timer_ = 0;
    Clock::time_point delay_due_;
    std::unordered_map<uint32_t, Pair> pairs_;
    std::multimap<Clock::time_point, Delayed> delayed_;
    uint64_t malformed_ = 0;
    uint64_t unpaired_ = 0;
};

} // namespace

std::unique_ptr<Service> make_relay_service(const ServiceContext& context)
{
    return std::make_unique<RelayService>(context.loop, context.config);
}

} // namespace vokar::operatord
