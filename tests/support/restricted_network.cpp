#include "tests/support/restricted_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vokar::test {
namespace {

std::string owner_match()
{
    return "-m owner --gid-owner " + std::to_string(RestrictedNetwork::kClientGroup);
}

} // namespace

RestrictedNetwork::~RestrictedNetwork()
{
    leave_client();
}

bool RestrictedNetwork::enter(std::string* why)
{
    if (::unshare(CLONE_NEWNET) != 0) {
        *why = "cannot create a network namespace (needs root)";
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, IFNAMSIZ, "lo");
    const bool up = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 &&
                    (ifr.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    ::close(fd);
    if (!up) {
        *why = "cannot bring up loopback in the namespace";
        return false;
    }
    own_group_ = ::getegid();
    entered_ = true;
    return run("iptables -L OUTPUT -n", why);
}

bool RestrictedNetwork::run(const std::string& command, std::string* why) const
{
    if (!entered_) {
        *why = "not in a private network namespace";
        return false;
    }
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        *why = "iptables is not available or refused: " + command;
        return false;
    }
    return true;
}

bool RestrictedNetwork::filter(const std::string& rule, std::string* why)
{
    return run("iptables -A OUTPUT " + owner_match() + " " + rule, why);
}

long long RestrictedNetwork::counted(const std::string& rule) const
{
    // `iptables -S -v` prints each rule as it was given, with its counters.
    FILE* pipe = ::popen("iptables -S OUTPUT -v 2>/dev/null", "r");
    if (!pipe)
        return -1;
    std::string text;
    std::array<char, 512> buffer;
    while (std::fgets(buffer.data(), buffer.size(), pipe))
        text += buffer.data();
    ::pclose(pipe);
    std::istringstream lines(text);
    std::string line;
    const std::string wanted = std::to_string(kClientGroup);
    while (std::getline(lines, line)) {
        // "-A OUTPUT <match> -c PACKETS BYTES"
        const auto c = line.rfind(" -c ");
        if (c == std::string::npos || line.find(wanted) == std::string::npos ||
            line.find("-j ") != std::string::npos)
            continue;
        // The rule's words, whatever order iptables prints them in.
        std::istringstream words(rule);
        std::string word;
        bool all = true;
        while (words >> word)
            all = all && line.find(word) != std::string::npos;
        if (all)
            return std::atoll(line.c_str() + c + 4);
    }
    return -1;
}

bool RestrictedNetwork::set_syn_retries(int retries)
{
    std::ofstream out("/proc/sys/net/ipv4/tcp_syn_retries");
    out << retries;
    out.close();
    return static_cast<bool>(out);
}

bool RestrictedNetwork::become_client()
{
    if (::setresgid(kClientGroup, kClientGroup, kClientGroup) != 0)
        return false;
    is_client_ = true;
    return true;
}

bool RestrictedNetwork::leave_client()
{
    if (!is_client_)
        return true;
    if (::setresgid(own_group_, own_group_, own_group_) != 0)
        return false;
    is_client_ = false;
    return true;
}

} // namespace vokar::test
