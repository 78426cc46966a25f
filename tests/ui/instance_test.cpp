// Start-up of the vokar executable: one client per data directory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

// What the shell sees of the exit code 1337 (exit codes are one byte).
constexpr int kRaisedOtherStatus = 1337 & 0xff;

class InstanceTest : public ::testing::Test {
protected:
    const std::string root = make_temp_directory("vokar-instance");
    ~InstanceTest() override { remove_directory(root); }

    std::string dir(const std::string& name) const { return root + "/" + name + "/"; }

    // Starts a client on data directory `name` with SDL's off-screen driver.
    bool start(ChildProcess& client, const std::string& name, const std::string& log)
    {
        ::setenv("VOKAR_HOME", dir(name).c_str(), 1);
        ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
        ::unsetenv("VOKAR_OPERATOR_CONF");
        std::string error;
        const bool started = client.start({VOKAR_CLIENT_PATH}, root + "/" + log, &error);
        EXPECT_TRUE(started) << error;
        return started;
    }

    // Starts a client and waits until it serves its data directory.
    bool start_ready(ChildProcess& client, const std::string& name)
    {
        return start(client, name, name + ".log") &&
               client.wait_for_line("vokar ready", 20s).has_value();
    }
};

TEST_F(InstanceTest, SecondStartOnOneDataDirectoryRaisesTheFirstAndExits)
{
    ChildProcess first;
    ASSERT_TRUE(start(first, "home", "home.log"));
    // Its instance socket appears once it serves the data directory (its
    // readiness line is left on its output for the check below).
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (::access((dir("home") + "instance.sock").c_str(), F_OK) != 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(20ms);
    }
    ChildProcess second;
    ASSERT_TRUE(start(second, "home", "second.log"));
    ASSERT_TRUE(second.wait_exit(10s));
    EXPECT_EQ(second.stop(), kRaisedOtherStatus);
    EXPECT_TRUE(first.wait_for_line("vokar: brought to the front", 10s));
    EXPECT_TRUE(first.running());
}

TEST_F(InstanceTest, ClientsOnTwoDataDirectoriesRunTogether)
{
    ChildProcess a;
    ChildProcess b;
    ASSERT_TRUE(start_ready(a, "a"));
    ASSERT_TRUE(start_ready(b, "b"));
    EXPECT_TRUE(a.running());
    EXPECT_TRUE(b.running());
}

} // namespace
} // namespace vokar::test
