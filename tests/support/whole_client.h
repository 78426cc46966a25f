#pragma once

// A whole client (its Program) logged in to both services of a FullStack,
// with WAV files for microphone and speaker and screens that record the call
// messages: one party of a call in integration tests.
//
//   test::FullStack stack;
//   ASSERT_TRUE(stack.start() && stack.befriend()) << stack.error();
//   test::WholeClient alice(stack, stack.accounts()[0]), bob(stack, stack.accounts()[1]);
//   ASSERT_TRUE(alice.log_in() && bob.log_in());
//   auto call = alice.program().app().makeCall(L"bob");
//   bob.wait_for(MessageCode::CallIncoming)->answer();

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/controller_ui.h"
#include "platform/operator_config.h"
#include "tests/support/quiet_ui.h"
#include "tests/support/xmpp_server.h"

namespace vokar {
class CallController;
class Program;
namespace platform {
class AudioDevices;
}
} // namespace vokar

namespace vokar::test {

class FullStack;

// The screens of a client as the core sees them: every window message sent or
// posted, in order. Call messages carry their call, which wait_for hands out
// as a screen holds it. The recorder does not keep calls alive: a call nobody
// holds any more is gone, as on a screen that has closed it.
class CallUi : public QuietUi {
public:
    intptr_t send_message(MessageCode code, uintptr_t wparam) override;
    void post_message(MessageCode code, uintptr_t wparam) override;

    // The call of the nth (from 1) message with this code, once it has come;
    // null when it has not within `limit` (or its call is gone).
    std::shared_ptr<CallController> wait_for(MessageCode code, std::chrono::milliseconds limit,
                                             size_t nth = 1);
    // Whether the nth message with this code has come within `limit`.
    bool arrived(MessageCode code, std::chrono::milliseconds limit, size_t nth = 1);
    // How many messages with this code came.
    size_t count(MessageCode code);
    // The codes of the call messages (CallChanged to CallAudioStopped) in order.
    std::vector<int> call_codes();

private:
    struct Message {
        MessageCode code;
        std::weak_ptr<CallController> call; // taken while the sender holds it
    };
    void add(MessageCode code, uintptr_t wparam);
    // Waits for the nth message with this code; null when it has not come.
    const Message* wait_locked(std::unique_lock<std::mutex>& lock, MessageCode code,
                               std::chrono::milliseconds limit, size_t nth);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
};

struct WholeClientOptions {
    // The microphone's samples (8 kHz 16-bit mono, raw); empty: two seconds
    // of a 400 Hz square wave.
    std::string microphone_samples;
    // Whether log_in() logs in to XMPP too: a client without it places its
    // calls over SIP at once.
    bool xmpp = true;
    // The client's sound devices instead of the WAV files (benches time
    // them); the WAV paths are then unused.
    std::function<std::unique_ptr<platform::AudioDevices>()> audio_devices;
    // Changes to the stack's configuration for this client only.
    std::function<void(platform::OperatorConfig&)> configure;
};

class WholeClient {
public:
    // A client of `account` (its user name is also its SIP number) with its
    // own data directory. The Program exists at once (its settings may be
    // changed); it starts in log_in().
    WholeClient(FullStack& stack, XmppAccount account, WholeClientOptions options = {});
    // Shuts the Program down and removes the data directory.
    ~WholeClient();
    WholeClient(const WholeClient&) = delete;
    WholeClient& operator=(const WholeClient&) = delete;

    // Starts the Program and logs in to SIP (registered) and, unless the
    // options say otherwise, XMPP (as far as the roster); false when either
    // has not within `limit`.
    bool log_in(std::chrono::milliseconds limit = std::chrono::seconds(20));

    // See CallUi::wait_for.
    std::shared_ptr<CallController>
    wait_for(MessageCode code, std::chrono::milliseconds limit = std::chrono::seconds(10),
             size_t nth = 1);
    // Whether the friend USER@domain is shown online within `limit`.
    bool sees_online(const std::string& user,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));

    Program& program() { return *program_; }
    CallUi& ui() { return ui_; }
    const XmppAccount& account() const { return account_; }
    const std::string& directory() const { return dir_; }
    // What the microphone plays on each call, and the speaker's recording of
    // the last call (complete once the call's audio has stopped).
    const std::string& microphone_wav() const { return microphone_wav_; }
    const std::string& speaker_wav() const { return speaker_wav_; }
    // The samples the speaker has played so far in the current or last call
    // (the recording after its header), 16-bit little-endian.
    std::vector<int16_t> speaker_samples() const;
    // How many of them are not silence (beyond +-`floor`).
    size_t heard_samples(int floor = 1000) const;

private:
    FullStack& stack_;
    const XmppAccount account_;
    const bool xmpp_;
    std::string dir_;
    std::string microphone_wav_, speaker_wav_;
    CallUi ui_;
    std::unique_ptr<Program> program_;
};

} // namespace vokar::test
