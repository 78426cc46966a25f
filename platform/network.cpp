#include "platform/network.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/socket.h"

namespace vokar::platform {
namespace {

class SystemAdapterSource final : public AdapterSource {
public:
    std::vector<Adapter> adapters() override
    {
        std::vector<Adapter> out;
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0)
            return out;
        const auto entry = [&out](const char* name) -> Adapter& {
            for (auto& a : out)
                if (a.name == name)
                    return a;
            out.push_back(Adapter{});
            out.back().name = name;
            struct stat st {};
            out.back().wireless =
                ::stat(("/sys/class/net/" + std::string(name) + "/wireless").c_str(), &st) == 0;
            return out.back();
        };
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_name)
                continue;
            Adapter& a = entry(i->ifa_name);
            a.loopback = a.loopback || (i->ifa_flags & IFF_LOOPBACK) != 0;
            a.up = (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
            if (!i->ifa_addr)
                continue;
            if (i->ifa_addr->sa_family == AF_PACKET) {
                const auto* ll = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
                for (int b = 0; b < ll->sll_halen && b < 8; ++b)
                    if (ll->sll_addr[b] != 0)
                        a.has_hardware_address = true;
            } else if (i->ifa_addr->sa_family == AF_INET && a.ipv4 == "0.0.0.0") {
                a.ipv4 =
                    format_ipv4(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
            }
        }
        ::freeifaddrs(list);
        const auto routes = read_file("/proc/net/route", kMaxRouteTable);
        return bearer_candidates(std::move(out),
                                 routes ? default_route_interface(*routes) : std::string());
    }

private:
    static constexpr size_t kMaxRouteTable = 1 << 20;
};

// The next whitespace-separated field of `line` from *at, or empty.
std::string_view next_field(std::string_view line, size_t* at)
{
    const size_t begin = line.find_first_not_of(" \t", *at);
    if (begin == std::string_view::npos) {
        *at = line.size();
        return {};
    }
    size_t end = line.find_first_of(" \t", begin);
    if (end == std::string_view::npos)
        end = line.size();
    *at = end;
    return line.substr(begin, end - begin);
}

bool parse_hex(std::string_view text, uint32_t* value)
{
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t v = 0;
    for (const char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else
            return false;
        v = v << 4 | digit;
    }
    *value = v;
    return true;
}

bool parse_decimal(std::string_view text, uint32_t* value)
{
    if (text.empty() || text.size() > 9)
        return false;
    uint32_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    *value = v;
    return true;
}

uint16_t checksum(const uint8_t* data, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length & 1)
        sum += static_cast<uint32_t>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

class SystemPinger final : public Pinger {
public:
    IcmpReply echo(uint32_t address, const std::string& payload, uint32_t timeout_ms) override
    {
        IcmpReply reply;
        bool raw = false;
        int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd < 0 && (errno == EACCES || errno == EPERM)) {
            fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
            raw = fd >= 0;
        }
        if (fd < 0) {
            reply.error = winsock_error_from_errno(errno);
            reply.message = "ICMP echo is not permitted for this user; allow it with "
                            "sysctl net.ipv4.ping_group_range";
            return reply;
        }
        static std::atomic<uint16_t> sequence{1};
        const uint16_t seq = sequence++;
        const uint16_t ident = static_cast<uint16_t>(::getpid());
        std::string packet(8 + payload.size(), '\0');
        auto* p = reinterpret_cast<uint8_t*>(packet.data());
        p[0] = ICMP_ECHO;
        p[4] = static_cast<uint8_t>(ident >> 8);
        p[5] = static_cast<uint8_t>(ident);
        p[6] = static_cast<uint8_t>(seq >> 8);
        p[7] = static_cast<uint8_t>(seq);
        std::memcpy(p + 8, payload.data(), payload.size());
        const uint16_t sum = checksum(p, packet.size());
        p[2] = static_cast<uint8_t>(sum >> 8);
        p[3] = static_cast<uint8_t>(sum);

        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = address;
        const auto start = std::chrono::steady_clock::now();
        if (::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) < 0) {
            reply.error = winsock_error_from_errno(errno);
            reply.message = std::strerror(errno);
            ::close(fd);
            return reply;
        }
        const auto deadline = start + std::chrono::milliseconds(timeout_ms);
        uint8_t buffer[1500];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                continue;
            // A raw socket hands over the IP header too, and every ICMP packet.
            size_t offset = 0;
            if (raw) {
                offset = static_cast<size_t>(buffer[0] & 0x0F) * 4;
                if (static_cast<size_t>(n) < offset + 8)
                    continue;
                const uint16_t got_ident =
                    static_cast<uint16_t>(buffer[offset + 4] << 8 | buffer[offset + 5]);
                if (got_ident != ident)
                    continue;
            } else if (n < 8) {
                continue;
            }
            const uint16_t got_seq =
                static_cast<uint16_t>(buffer[offset + 6] << 8 | buffer[offset + 7]);
            if (buffer[offset] != ICMP_ECHOREPLY || got_seq != seq)
                continue;
            reply.replied = true;
            reply.round_trip_ms =
                static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
            break;
        }
        ::close(fd);
        return reply;
    }
};

} // namespace

std::vector<Adapter> bearer_candidates(std::vector<Adapter> adapters,
                                       std::string_view default_route)
{
    std::vector<Adapter> out;
    std::vector<Adapter> routed;
    for (Adapter& a : adapters) {
        if (!a.up)
            continue;
        if (!default_route.empty() && a.name == default_route)
            routed.push_back(std::move(a));
        else
            out.push_back(std::move(a));
    }
    for (Adapter& a : routed) {
        if (a.wireless)
            out.insert(out.begin(), std::move(a));
        else
            out.push_back(std::move(a));
    }
    return out;
}

// Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the
// addresses and flags in hexadecimal. A default route has destination and
// mask 0 and the RTF_UP flag.
std::string default_route_interface(std::string_view proc_net_route)
{
    constexpr uint32_t kRouteUp = 0x1; // RTF_UP
    std::string best;
    uint32_t best_metric = 0;
    size_t from = 0;
    while (from < proc_net_route.size()) {
        size_t end = proc_net_route.find('\n', from);
        if (end == std::string_view::npos)
            end = proc_net_route.size();
        const std::string_view line = proc_net_route.substr(from, end - from);
        from = end + 1;
        std::string_view fields[8];
        size_t at = 0;
        for (auto& field : fields)
            field = next_field(line, &at);
        uint32_t destination, flags, metric, mask;
        if (!parse_hex(fields[1], &destination) || !parse_hex(fields[3], &flags) ||
            !parse_decimal(fields[6], &metric) || !parse_hex(fields[7], &mask))
            continue; // the header, or a line that is not a route
        if (destination != 0 || mask != 0 || (flags & kRouteUp) == 0)
            continue;
        if (best.empty() || metric < best_metric) {
            best = std::string(fields[0]);
            best_metric = metric;
        }
    }
    return best;
}

std::unique_ptr<AdapterSource> make_system_adapter_source()
{
    return std::make_unique<SystemAdapterSource>();
}

std::unique_ptr<Pinger> make_system_pinger()
{
    return std::make_unique<SystemPinger>();
}

bool request_data_connection()
{
    return false;
}

} // namespace vokar::platform
