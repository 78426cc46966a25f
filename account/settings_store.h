#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "account/server_list.h"
#include "platform/operator_config.h"

namespace vokar {

// Everything the client remembers between runs, read from the settings file
// when constructed and written back whole by save(). Fields are read and
// written directly by their users; saves are serialised.
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
    SettingsStore(std::string path, const platform::OperatorConfig& config);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Rewrites the file from the current fields. The previous file stays
    // intact when writing fails. Returns whether the file was written.
    bool save();

    // Applies the web service's server-list answer: lists 0-3 are reloaded
    // with the change check and a "-DOMAIN" section replaces `domain`. The
    // caller saves afterwards. An empty body changes nothing.
    void apply_server_list_answer(std::string_view body);

    ServerList& server_list(size_t position) { return *server_lists_.at(position); }

    // Reads the fields from the bytes of a settings file of any layout, as
    // the constructor does with the file itself (clears first_run).
    void load_from(std::string_view file);

    // Tells the SIP (kind 0) and XMPP (kind 1) lists whether their client is
    // currently up, for the change check of a server-list answer.
    void set_client_up(std::function<bool(int kind)> client_up);

    const std::string& path() const { return path_; }

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

private:
    void load_current(std::string_view file);
    void load_legacy(uint32_t layout, std::string_view file);
    std::string serialize();

    const std::string path_;
    std::array<std::unique_ptr<ServerList>, 5> server_lists_;
    std::mutex save_mutex_;
};

} // namespace vokar
