#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vokar::platform {

// One network adapter as the bearer detection sees it.
struct Adapter {
    std::string name;
    bool has_hardware_address = false;
    std::string ipv4 = "0.0.0.0"; // first IPv4 address, "0.0.0.0" when none
    bool wireless = false;
    bool loopback = false;
    bool up = true; // administratively up and with a carrier
};

// Where the adapter list comes from; tests give a scripted one.
class AdapterSource {
public:
    virtual ~AdapterSource() = default;
    // Adapters in the system's order.
    virtual std::vector<Adapter> adapters() = 0;
};

// The machine's adapters that are up and running, from getifaddrs (wireless
// when /sys/class/net/NAME/wireless exists), ordered by bearer_candidates
// with the default route read from /proc/net/route.
std::unique_ptr<AdapterSource> make_system_adapter_source();

// The adapters a bearer may be chosen from, for a walk that takes the last
// adapter with an address unless a WiFi adapter came first: those that are
// not up are dropped (a bridge without a carrier keeps its address), and the
// adapter named `default_route` goes first when it is wireless, else last, so
// the walk lands on it. The others keep their order.
std::vector<Adapter> bearer_candidates(std::vector<Adapter> adapters,
                                       std::string_view default_route);

// The interface of the IPv4 default route with the lowest metric in the text
// of /proc/net/route; empty when there is none.
std::string default_route_interface(std::string_view proc_net_route);

struct IcmpReply {
    bool replied = false;
    uint32_t round_trip_ms = 0;
    int error = 0;       // Winsock number when the echo could not be sent
    std::string message; // why, for a person
};

// Pingers; tests give a scripted one.
class Pinger {
public:
    virtual ~Pinger() = default;
    // One ICMP echo to `address` (network order) carrying `payload`.
    virtual IcmpReply echo(uint32_t address, const std::string& payload, uint32_t timeout_ms) = 0;
};

// ICMP echo through an unprivileged ping socket (or a raw socket when the
// process may open one). Where the kernel allows neither, every echo fails
// with a message naming net.ipv4.ping_group_range.
std::unique_ptr<Pinger> make_system_pinger();

// Brings up a cellular data connection. Linux has no such bearer manager:
// this fails at once.
bool request_data_connection();

} // namespace vokar::platform
