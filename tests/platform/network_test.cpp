#include "platform/network.h"

#include <gtest/gtest.h>

namespace vokar::platform {
namespace {

Adapter adapter(std::string name, bool up = true, bool wireless = false)
{
    Adapter a;
    a.name = std::move(name);
    a.ipv4 = "10.0.0.1";
    a.has_hardware_address = true;
    a.up = up;
    a.wireless = wireless;
    return a;
}

std::vector<std::string> names(const std::vector<Adapter>& adapters)
{
    std::vector<std::string> out;
    for (const auto& a : adapters)
        out.push_back(a.name);
    return out;
}

using Names = std::vector<std::string>;

TEST(BearerCandidates, DownAdaptersAreDroppedAndTheDefaultRouteIsWhereTheWalkLands)
{
    const std::vector<Adapter> system = {adapter("lo"), adapter("eth0"), adapter("docker0", false),
                                         adapter("virbr0", false)};
    EXPECT_EQ(names(bearer_candidates(system, "")), (Names{"lo", "eth0"}));
    EXPECT_EQ(names(bearer_candidates(system, "docker0")), (Names{"lo", "eth0"}))
        << "a route through an adapter that is down changes nothing";

    const std::vector<Adapter> two = {adapter("eth0"), adapter("eth1"),
                                      adapter("wlan0", true, true)};
    EXPECT_EQ(names(bearer_candidates(two, "eth0")), (Names{"eth1", "wlan0", "eth0"}))
        << "last, where a later adapter replaces an earlier one";
    EXPECT_EQ(names(bearer_candidates(two, "wlan0")), (Names{"wlan0", "eth0", "eth1"}))
        << "first, where a WiFi adapter ends the walk";
}

TEST(BearerCandidates, TheDefaultRouteWithTheLowestMetricFromTheRouteTable)
{
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
        "wlan0\t00000000\t0102A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "tun0\t00000000\t00000000\t0002\t0\t0\t1\t00000000\t0\t0\t0\n" // not up
        "eth1\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth2\t00000000\t0101A8C0\t0003\t0\t0\t50\tzz\n"; // malformed
    EXPECT_EQ(default_route_interface(table), "eth1");
    EXPECT_EQ(default_route_interface(table.substr(0, table.find("wlan0"))), "");
    EXPECT_EQ(default_route_interface(""), "");
    EXPECT_EQ(default_route_interface("eth9 00000000 0 1 0 0 7 00000000"), "eth9");
}

} // namespace
} // namespace vokar::platform
