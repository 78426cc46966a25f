#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vokar::test {

// A restricted network for one test process (each ctest test is its own
// process): a private network namespace with only loopback, whose packet
// filter applies to the client under test alone. The servers are started
// first, as the process's children with its normal group; become_client()
// then switches the process to kClientGroup, and the rules match only the
// sockets it opens from then on (`iptables -m owner --gid-owner`), so the
// servers, the tunnel's relay and any client set up before are not filtered.
//
//   RestrictedNetwork net;
//   if (!net.enter(&why)) GTEST_SKIP() << why;
//   ... start the servers ...
//   ASSERT_TRUE(net.filter("-p tcp --dport 5222 -j REJECT", &why)) << why;
//   ASSERT_TRUE(net.become_client());
class RestrictedNetwork {
public:
    static constexpr gid_t kClientGroup = 47115;

    // Goes back to the process's own group.
    ~RestrictedNetwork();

    // Moves this process into a network namespace of its own with loopback
    // up. False with the reason where the process may not (needs root).
    bool enter(std::string* why);
    // Appends an OUTPUT rule for the client's packets: `rule` is what follows
    // the owner match, e.g. "-p tcp --dport 5222 -j DROP"; without a target
    // the rule only counts. False with the reason when iptables is missing
    // or refuses the rule.
    bool filter(const std::string& rule, std::string* why);
    // The packets counted by the client's rule without a target whose words
    // include those of `rule`; -1 when there is none.
    long long counted(const std::string& rule) const;
    // The kernel gives up a connect whose SYNs are dropped after
    // (2^(retries+1) - 1) s; only this namespace is affected.
    bool set_syn_retries(int retries);

    // Sockets opened from now on are the client's (filtered) ...
    bool become_client();
    // ... or the servers' again (to restart one).
    bool leave_client();

private:
    bool run(const std::string& command, std::string* why) const;
    bool entered_ = false;
    gid_t own_group_ = 0;
    bool is_client_ = false;
};

} // namespace vokar::test
