#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "account/server_list.h"
#include "platform/operator_config.h"
#include "platform/thread.h"

namespace vokar {

// The values the settings file keeps.
struct Settings {
    std::wstring username = L"+";
    std::wstring password;
    std::wstring dialing_prefix = L"-1";
    bool first_run = true;
    int32_t ring_volume = 4;
    int32_t volume = 3;
    bool autologin = false;
    bool message_alert = true;
    bool show_offline_friends = true;
    bool allow_holler = true;
    std::wstring status_message; // not stored in the current layout
    std::string domain;
    int32_t legacy_a = 0;
    int32_t legacy_b = 1;
};

// Everything the client remembers between runs, read from the settings file
// when constructed and written back whole by save(). The values are private
// and guarded by the store's lock: readers get copies, writers change them
// through update() or set(), from any thread. Saves are serialised; the
// server lists lock themselves.
class SettingsStore {
public:
    static constexpr std::string_view kFileName = "__settings";
    static constexpr uint32_t kLayout = 230;
    // Files larger than this are not settings files; only this much is read.
    static constexpr size_t kMaxFileBytes = (1 << 20) + 8;

    // Positions of the five server lists.
    static constexpr size_t kSipList = 0, kXmppList = 1, kWebList = 2, kStunList = 3,
                            kFallbackList = 4;

    // `path` is the settings file (normally the data directory + kFileName).
    // A temporary file that an interrupted save left beside it is removed:
    // it holds the credentials, and nothing else would ever delete it.
    SettingsStore(std::string path, const platform::OperatorConfig& config);
    // Writes a save still requested by save_soon().
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Rewrites the file from the current values on the calling thread. The
    // previous file stays intact when writing fails. Returns whether the file
    // was written.
    bool save();
    // Asks the store's saving thread to rewrite the file and returns at once:
    // for the GUI and receive threads, which must not wait for the disk.
    // Requests made while a save is pending are written together.
    void save_soon();

    // A copy of every value.
    Settings values() const;
    template <class T> T get(T Settings::*field) const
    {
        std::lock_guard lock(mutex_);
        return values_.*field;
    }
    template <class T, class V> void set(T Settings::*field, V&& value)
    {
        std::lock_guard lock(mutex_);
        values_.*field = std::forward<V>(value);
    }
    // Runs `change` on the values under the lock, so that a read and the
    // write that depends on it are one step. `change` must not call the store.
    void update(const std::function<void(Settings&)>& change);

    // Applies the web service's server-list answer: lists 0-3 are reloaded
    // with the change check and a "-DOMAIN" section replaces `domain`. The
    // caller saves afterwards. An empty body changes nothing.
    void apply_server_list_answer(std::string_view body);

    ServerList& server_list(size_t position) { return *server_lists_.at(position); }

    // Reads the values from the bytes of a settings file of any layout, as
    // the constructor does with the file itself (clears first_run).
    void load_from(std::string_view file);

    // Tells the kServerSip and kServerXmpp lists whether their client is
    // currently up, for the change check of a server-list answer. Once this
    // returns, the previous function is no longer running nor called.
    void set_client_up(std::function<bool(int kind)> client_up);

    const std::string& path() const { return path_; }

private:
    void load_current(std::string_view file, Settings& values);
    void load_legacy(uint32_t layout, std::string_view file, Settings& values);
    std::string serialize(const Settings& values);
    void run_saves();

    const std::string path_;
    std::array<std::unique_ptr<ServerList>, 5> server_lists_;
    mutable std::mutex mutex_; // values_
    Settings values_;
    std::mutex save_mutex_; // one writer of the file at a time

    std::mutex saver_mutex_; // the two flags below
    std::condition_variable saver_cv_;
    bool save_requested_ = false;
    bool stopping_ = false;
    platform::Thread saver_; // last: starts once the rest is built
};

} // namespace vokar
