#include "tests/support/whole_client.h"

#include <fstream>
#include <thread>

#include "core/program.h"
#include "platform/text.h"
#include "tests/support/full_stack.h"
#include "tests/support/scratch.h"

namespace vokar::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Every ping answers at once: the link rating costs nothing.
class QuickPinger : public platform::Pinger {
public:
    platform::IcmpReply echo(uint32_t, const std::string&, uint32_t) override
    {
        return {true, 1, 0, {}};
    }
};

std::string square_wave()
{
    std::string samples;
    for (int i = 0; i < 16000; ++i) {
        const int16_t v = static_cast<int16_t>((i / 10) % 2 ? 8000 : -8000);
        samples.append(reinterpret_cast<const char*>(&v), 2);
    }
    return samples;
}

template <class F> bool eventually(F done, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end)
        std::this_thread::sleep_for(10ms);
    return done();
}

} // namespace

intptr_t CallUi::send_message(MessageCode code, uintptr_t wparam)
{
    add(code, wparam);
    return 0;
}

void CallUi::post_message(MessageCode code, uintptr_t wparam)
{
    add(code, wparam);
}

void CallUi::add(MessageCode code, uintptr_t wparam)
{
    Message m{code, {}};
    if (code >= MessageCode::CallChanged && code <= MessageCode::CallAudioStopped && wparam)
        m.call = reinterpret_cast<CallController*>(wparam)->weak_from_this();
    std::lock_guard lock(mutex_);
    messages_.push_back(std::move(m));
    changed_.notify_all();
}

const CallUi::Message* CallUi::wait_locked(std::unique_lock<std::mutex>& lock, MessageCode code,
                                           std::chrono::milliseconds limit, size_t nth)
{
    const Message* found = nullptr;
    changed_.wait_for(lock, limit, [&] {
        size_t seen = 0;
        for (const Message& m : messages_)
            if (m.code == code && ++seen == nth) {
                found = &m;
                return true;
            }
        return false;
    });
    return found;
}

std::shared_ptr<CallController> CallUi::wait_for(MessageCode code, std::chrono::milliseconds limit,
                                                 size_t nth)
{
    std::unique_lock lock(mutex_);
    const Message* m = wait_locked(lock, code, limit, nth);
    return m ? m->call.lock() : nullptr;
}

bool CallUi::arrived(MessageCode code, std::chrono::milliseconds limit, size_t nth)
{
    std::unique_lock lock(mutex_);
    return wait_locked(lock, code, limit, nth) != nullptr;
}

size_t CallUi::count(MessageCode code)
{
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const Message& m : messages_)
        n += m.code == code;
    return n;
}

std::vector<int> CallUi::call_codes()
{
    std::lock_guard lock(mutex_);
    std::vector<int> out;
    for (const Message& m : messages_)
        if (m.code >= MessageCode::CallChanged && m.code <= MessageCode::CallAudioStopped)
            out.push_back(static_cast<int>(m.code));
    return out;
}

WholeClient::WholeClient(FullStack& stack, XmppAccount account, WholeClientOptions options)
    : stack_(stack), account_(std::move(account)), xmpp_(options.xmpp),
      dir_(make_temp_directory("vokar-" + account_.user))
{
    microphone_wav_ = dir_ + "/microphone.wav";
    speaker_wav_ = dir_ + "/speaker.wav";
    const std::string samples =
        options.microphone_samples.empty() ? square_wave() : options.microphone_samples;
    std::ofstream(microphone_wav_, std::ios::binary)
        << platform::wav_header(static_cast<uint32_t>(samples.size())) << samples;

    platform::OperatorConfig config = stack.config();
    config.adapter = "lo";
    if (options.configure)
        options.configure(config);
    Program::Options program{
        config, dir_ + "/__settings", ui_, nullptr, std::make_unique<QuickPinger>(), {}, {}, {}};
    program.make_audio_devices = std::move(options.audio_devices);
    if (!program.make_audio_devices) {
        program.make_audio_devices = [this] {
            return platform::make_audio_devices({microphone_wav_, speaker_wav_});
        };
    }
    program_ = std::make_unique<Program>(std::move(program));
}

WholeClient::~WholeClient()
{
    program_.reset();
    remove_directory(dir_);
}

bool WholeClient::log_in(std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    const auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    };
    program_->start();
    if (!eventually([&] { return program_->monitor().connected(); }, left()))
        return false;
    program_->sip().login(account_.user, account_.password);
    if (xmpp_)
        program_->app().login(account_.user, account_.password);
    return eventually(
        [&] { return (!xmpp_ || program_->app().loggedIn()) && program_->sip().sipLoggedIn(); },
        left());
}

std::shared_ptr<CallController> WholeClient::wait_for(MessageCode code,
                                                      std::chrono::milliseconds limit, size_t nth)
{
    return ui_.wait_for(code, limit, nth);
}

std::vector<int16_t> WholeClient::speaker_samples() const
{
    const std::string file = read_file(speaker_wav_);
    constexpr size_t kHeader = 44;
    std::vector<int16_t> samples;
    for (size_t i = kHeader; i + 1 < file.size(); i += 2)
        samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(file[i]) |
                                               static_cast<uint8_t>(file[i + 1]) << 8));
    return samples;
}

size_t WholeClient::heard_samples(int floor) const
{
    size_t n = 0;
    for (const int16_t s : speaker_samples())
        n += s > floor || s < -floor;
    return n;
}

bool WholeClient::sees_online(const std::string& user, std::chrono::milliseconds limit)
{
    const std::wstring jid = platform::to_wide(user + "@" + stack_.config().service_domain);
    return eventually(
        [&] {
            const auto f = program_->friends().find(jid);
            return f && f->status == kStatusAvailable;
        },
        limit);
}

} // namespace vokar::test
