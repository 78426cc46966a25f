#pragma once

// Doubles for the application core: a recording user interface, a clock whose
// sleeps are instant (or held), a bearer, settings in a scratch directory, and
// real XMPP clients over scripted connections.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "account/settings_store.h"
#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "core/app_controller.h"
#include "tests/support/scripted_connection.h"

namespace vokar::test {

// Raises an event as the controller's current client would; without a
// client, the event is passed over like that of a dropped one.
struct ControllerEvents {
    static void raise(AppController& controller, int code, const JabberEvent* event)
    {
        controller.on_session_event(controller.session_generation(), code, event);
    }
};

template <class F> bool eventually(F done)
{
    for (int i = 0; i < 5000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

struct UiRecord {
    MessageCode code{};
    bool posted = false;
    uintptr_t wparam = 0;
    std::string text;  // 2135, 2139
    std::wstring name; // 2137
};

// A screen shown: text (or its id), and the message title (0 for progress).
struct Notice {
    int text_id = 0;
    std::wstring text;
    int title_id = 0;
    bool operator==(const Notice&) const = default;
};

class RecordingUi : public ControllerUi {
public:
    intptr_t send_message(MessageCode code, uintptr_t wparam) override
    {
        UiRecord r{code, false, wparam, {}, {}};
        if (code == MessageCode::ServiceMessage || code == MessageCode::HollerAnswered)
            r.text = *reinterpret_cast<const std::string*>(wparam);
        if (code == MessageCode::HollerFriendOnline)
            r.name = *reinterpret_cast<const std::wstring*>(wparam);
        std::lock_guard lock(mutex);
        messages.push_back(r);
        return 0;
    }
    void post_message(MessageCode code, uintptr_t wparam) override
    {
        std::lock_guard lock(mutex);
        messages.push_back({code, true, wparam, {}, {}});
    }
    void show_progress(StringId text) override
    {
        notices.push_back({static_cast<int>(text), L"", 0});
    }
    void show_message(StringId text, StringId title) override
    {
        notices.push_back({static_cast<int>(text), L"", static_cast<int>(title)});
    }
    void show_message(const std::wstring& text, StringId title) override
    {
        notices.push_back({0, text, static_cast<int>(title)});
    }
    void show_main_screen() override { ++main_screens; }
    void ask_import_accounts() override { ++import_questions; }
    bool progress_screen_current() override { return progress_current; }
    void show_new_version(const JabberEvent& event) override
    {
        std::lock_guard lock(mutex);
        new_versions.push_back({event.update_url, std::this_thread::get_id()});
    }

    std::vector<UiRecord> take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(messages, {});
    }
    std::vector<int> codes()
    {
        std::vector<int> out;
        for (const auto& r : take())
            out.push_back(static_cast<int>(code(r.code)));
        return out;
    }

    std::mutex mutex;
    std::vector<UiRecord> messages;
    std::vector<Notice> notices; // on the test thread
    std::atomic<int> main_screens{0}, import_questions{0};
    std::atomic<bool> progress_current{false};
    std::vector<std::pair<std::string, std::thread::id>> new_versions; // url, thread
};

// Sleeps advance the clock at once and are summed per thread; while held,
// they block until released.
class TestClock : public platform::Clock {
public:
    uint32_t tick_count() override { return now_; }
    void sleep_ms(uint32_t ms) override
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return !held_; });
        slept_[std::this_thread::get_id()] += ms;
        now_ += ms;
    }
    uint64_t slept_here()
    {
        std::lock_guard lock(mutex_);
        return slept_[std::this_thread::get_id()];
    }
    void hold(bool held = true)
    {
        {
            std::lock_guard lock(mutex_);
            held_ = held;
        }
        cv_.notify_all();
    }

private:
    std::atomic<uint32_t> now_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool held_ = false;
    std::map<std::thread::id, uint64_t> slept_;
};

// The disposal queue the phones free their clients and stacks through. Its
// clock runs fifty times faster than real time, so a client dropped with a
// delay is freed within a sweep or two.
class Disposal {
public:
    platform::Clock& clock() { return clock_; }
    DisposalQueue& queue() { return queue_; }

private:
    class QuickClock : public platform::Clock {
    public:
        uint32_t tick_count() override { return platform::tick_count() * 50; }
        void sleep_ms(uint32_t ms) override { platform::sleep_ms(ms / 50); }
    };
    QuickClock clock_;
    Reactor reactor_{clock_};
    DisposalQueue queue_{reactor_};
};

class FakeBearer : public Bearer {
public:
    bool connected() const override { return up; }
    std::string local_address() const override { return "10.0.0.5"; }
    std::atomic<bool> up{true};
};

// A fresh directory for one test's settings file, removed afterwards.
class ScratchDir {
public:
    ScratchDir() : dir_((std::filesystem::temp_directory_path() / "vokar-core-XXXXXX").string())
    {
        EXPECT_TRUE(mkdtemp(dir_.data()));
    }
    ~ScratchDir() { std::filesystem::remove_all(dir_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string settings_path() const { return dir_ + "/__settings"; }

private:
    std::string dir_;
};

// Holds a named pipe open for reading, so that writers waiting to open it go on.
class FifoReader {
public:
    FifoReader() = default;
    ~FifoReader()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;
    void open(const std::string& path) { fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK); }

private:
    int fd_ = -1;
};

// One connection a phone asked for.
struct ConnectionRecord {
    ScriptedConnection::Log log;
    SocketErrorCallback on_error;
    bool use_tcp = false, scramble = false;
    uint64_t slept_before = 0; // what the creating thread had slept so far
    std::atomic<bool> destroyed{false};
    std::thread::id destroyed_on;
};

class RecordedConnection : public ScriptedConnection {
public:
    explicit RecordedConnection(ConnectionRecord& r) : ScriptedConnection(r.log), record_(r) {}
    ~RecordedConnection() override
    {
        record_.destroyed_on = std::this_thread::get_id();
        record_.destroyed = true;
    }

private:
    ConnectionRecord& record_;
};

// Real clients (fixed ids and resource) over recorded scripted connections.
class XmppRig {
public:
    explicit XmppRig(TestClock& clock) : clock_(clock) {}

    AppController::ClientFactory clients()
    {
        return [this](const std::string& domain, const std::string& os,
                      const std::string& version) {
            JabberClient::Options options;
            options.first_id = 100;
            options.resource = "Vokar_WM_J_1";
            auto client = std::make_unique<JabberClient>(domain, os, version, reactor_, options);
            std::lock_guard lock(mutex_);
            clients_.push_back(client.get());
            return client;
        };
    }
    ConnectionFactory connections()
    {
        return [this](const std::string& local, bool tcp, bool scramble,
                      SocketErrorCallback on_error) {
            EXPECT_EQ(local, "10.0.0.5");
            std::lock_guard lock(mutex_);
            ConnectionRecord& r = records_.emplace_back();
            r.on_error = std::move(on_error);
            r.use_tcp = tcp;
            r.scramble = scramble;
            r.slept_before = clock_.slept_here();
            return std::make_unique<RecordedConnection>(r);
        };
    }

    size_t count()
    {
        std::lock_guard lock(mutex_);
        return records_.size();
    }
    ConnectionRecord& record(size_t i)
    {
        std::lock_guard lock(mutex_);
        return records_.at(i);
    }
    JabberClient* client(size_t i)
    {
        std::lock_guard lock(mutex_);
        return clients_.at(i);
    }
    // What the i-th connection carried since the last call.
    std::vector<std::string> sent(size_t i)
    {
        ConnectionRecord& r = record(i);
        std::lock_guard lock(r.log.mutex);
        std::vector<std::string> out(r.log.sent.begin(), r.log.sent.end());
        r.log.sent.clear();
        return out;
    }
    // Waits for the n-th connection and the stream header its client opens.
    bool wait_for_stream(size_t n)
    {
        return eventually([&] {
            if (count() < n)
                return false;
            ConnectionRecord& r = record(n - 1);
            std::lock_guard lock(r.log.mutex);
            return !r.log.sent.empty();
        });
    }

private:
    TestClock& clock_;
    platform::ManualClock reactor_clock_;
    Reactor reactor_{reactor_clock_, false};
    std::mutex mutex_;
    std::deque<ConnectionRecord> records_;
    std::vector<JabberClient*> clients_;
};

} // namespace vokar::test
