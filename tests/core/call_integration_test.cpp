// Calls between whole clients through the operator's stack, with WAV audio on
// both ends: each side's calls and window messages.

#include <gtest/gtest.h>

#include "core/program.h"
#include "tests/core/core_test_support.h"
#include "tests/support/full_stack.h"
#include "tests/support/whole_client.h"

namespace vokar {
namespace {

using namespace std::chrono_literals;

class CallIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(stack_.start()) << stack_.error();
        ASSERT_TRUE(stack_.befriend()) << stack_.error();
        alice_ = std::make_unique<test::WholeClient>(stack_, stack_.accounts()[0]);
        bob_ = std::make_unique<test::WholeClient>(stack_, stack_.accounts()[1]);
        ASSERT_TRUE(alice_->log_in());
        ASSERT_TRUE(bob_->log_in());
    }
    void TearDown() override
    {
        alice_.reset();
        bob_.reset();
    }

    test::FullStack stack_;
    std::unique_ptr<test::WholeClient> alice_, bob_;
};

TEST_F(CallIntegration, JingleCallRingsIsAnsweredAndHungUp)
{
    ASSERT_TRUE(alice_->sees_online("bob"));
    const auto call = alice_->program().app().makeCall(L"bob");
    const auto incoming = bob_->wait_for(MessageCode::CallIncoming);
    ASSERT_NE(incoming, nullptr);
    EXPECT_EQ(incoming->number(), L"alice");
    ASSERT_TRUE(alice_->wait_for(MessageCode::CallChanged)); // the peer rings
    EXPECT_EQ(call->state(), CallController::kAlerting);
    EXPECT_EQ(call->owner(), &alice_->program().app());

    incoming->answer();
    ASSERT_TRUE(bob_->wait_for(MessageCode::CallConnected));
    ASSERT_TRUE(alice_->wait_for(MessageCode::CallConnected));
    EXPECT_EQ(call->state(), CallController::kTalking);
    EXPECT_EQ(incoming->state(), CallController::kTalking);
    // Half a second of the tone each way.
    EXPECT_TRUE(test::eventually(
        [&] { return alice_->heard_samples() > 4000 && bob_->heard_samples() > 4000; }));

    call->hangUp();
    ASSERT_TRUE(bob_->wait_for(MessageCode::CallOver));
    EXPECT_EQ(incoming->state(), CallController::kEnded);
    EXPECT_EQ(incoming->statusText(), L"busy");
    EXPECT_EQ(alice_->ui().call_codes(), (std::vector<int>{2125, 2124, 2127, 2124, 2124}));
    EXPECT_EQ(bob_->ui().call_codes(), (std::vector<int>{2126, 2127, 2124, 2124, 2129}));
}

} // namespace
} // namespace vokar
