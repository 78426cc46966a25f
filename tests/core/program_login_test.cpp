// A whole Program logs in to both services of the operator stack.

#include <gtest/gtest.h>

#include "core/program.h"
#include "tests/core/core_test_support.h"
#include "tests/support/full_stack.h"

namespace vokar {
namespace {

using namespace std::chrono_literals;

class QuickPinger : public platform::Pinger {
public:
    platform::IcmpReply echo(uint32_t, const std::string&, uint32_t) override
    {
        return {true, 1, 0, {}};
    }
};

TEST(ProgramLogin, BothServicesLogInAndTheMainScreenIsShown)
{
    test::FullStack stack;
    ASSERT_TRUE(stack.start()) << stack.error();
    test::ScratchDir dir;
    test::RecordingUi ui;
    platform::OperatorConfig config = stack.config();
    config.adapter = "lo";
    Program program(Program::Options{
        config, dir.settings_path(), ui, nullptr, std::make_unique<QuickPinger>(), {}, {}, {}});
    program.start();
    ASSERT_TRUE(test::eventually([&] { return program.monitor().connected(); }));
    program.sip().login("alice", "alice-pass");
    program.app().login("alice", "alice-pass");
    EXPECT_TRUE(test::eventually([&] { return ui.main_screens.load() > 0; }));
    EXPECT_TRUE(test::eventually([&] { return program.app().loggedIn(); }));
}

} // namespace
} // namespace vokar
