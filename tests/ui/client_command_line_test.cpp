// The vokar executable's command line.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

class ClientCommandLineTest : public ::testing::Test {
protected:
    const std::string home = make_temp_directory("vokar-command-line");
    ~ClientCommandLineTest() override { remove_directory(home); }

    // Starts the client; its stderr goes to `log` in the data directory.
    bool start(ChildProcess& client, const std::vector<std::string>& args,
               const std::string& log = "client.log")
    {
        ::setenv("VOKAR_HOME", home.c_str(), 1);
        ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
        ::unsetenv("VOKAR_OPERATOR_CONF");
        std::vector<std::string> argv{VOKAR_CLIENT_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string error;
        const bool started = client.start(argv, home + "/" + log, &error);
        EXPECT_TRUE(started) << error;
        return started;
    }
};

TEST_F(ClientCommandLineTest, BadScaleIsRefusedBeforeAnythingStarts)
{
    int n = 0;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--scale", "0"}, {"--scale=7"}, {"--scale", "2x"}, {"--scale"}, {"--zoom", "2"}}) {
        const std::string log = "refused" + std::to_string(++n) + ".log";
        ChildProcess client;
        ASSERT_TRUE(start(client, args, log));
        ASSERT_TRUE(client.wait_exit(10s));
        EXPECT_EQ(client.stop(), 1) << args[0];
        EXPECT_NE(read_file(home + "/" + log).find("usage: vokar"), std::string::npos);
    }
}

TEST_F(ClientCommandLineTest, ScaleOfOneToSixStartsTheClient)
{
    ChildProcess client;
    ASSERT_TRUE(start(client, {"--scale", "3"}));
    EXPECT_TRUE(client.wait_for_line("vokar ready", 20s));
    EXPECT_TRUE(client.running());
}

} // namespace
} // namespace vokar::test
