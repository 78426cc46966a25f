#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vokar {

enum CallType : int32_t {
    kCallMissed = 0,   // incoming, rejected or not answered
    kCallIncoming = 1, // incoming, answered
    kCallOutgoing = 2,
};

struct CallLogEntry {
    std::wstring name;
    std::wstring number;
    uint64_t start_time = 0; // FILETIME: 100 ns units since 1 January 1601, UTC
    int32_t type = kCallMissed;
    bool from_contacts = false; // name looked up while the device contacts were ready
    bool from_file = false;
};

// Where the Call History page hears of a call as soon as it is added. Called
// on the adding thread, outside the log's lock; it must not call
// CallLog::set_listener.
class CallLogListener {
public:
    virtual ~CallLogListener() = default;
    virtual void call_added(const CallLogEntry& entry) = 0;
};

// Names for numbers, from the device contacts.
class ContactNames {
public:
    virtual ~ContactNames() = default;
    virtual bool ready() const = 0;
    virtual std::wstring name_for(const std::wstring& number) const = 0;
};

// The phone's own cellular call log, newest first. Empty on this platform.
class CellularCallLog {
public:
    virtual ~CellularCallLog() = default;
    virtual std::vector<CallLogEntry> newest(size_t maximum) = 0;
};
std::unique_ptr<CellularCallLog> make_empty_cellular_call_log();

// The client's own call history, newest first, kept in "CallLog.txt": five
// lines per record (name, number, type, high and low half of the start time),
// at most kMaxSavedRecords records. add, load and build_history are
// serialised by one lock; the file is replaced crash-safe.
class CallLog {
public:
    static constexpr size_t kMaxSavedRecords = 10;
    static constexpr size_t kMaxHistoryRows = 50;
    // Larger files are read only this far.
    static constexpr size_t kMaxFileBytes = 64 * 1024;

    using FileTimeSource = std::function<uint64_t()>;

    // `now` gives the current UTC time as FILETIME; empty means the system clock.
    explicit CallLog(std::string path, FileTimeSource now = {});

    void set_listener(CallLogListener* listener);

    // Records a call that has just ended, been answered or rejected, newest
    // first, replacing an earlier entry of the same number, and saves.
    void add(const std::wstring& number, const std::wstring& name, int32_t type);
    // Clears the log and reads the file; a missing file leaves it empty. Once
    // this process has added a call, the text it last saved is read instead.
    void load();
    // Clears the log and reads `text` in the file format (no file access).
    void load_from(std::string_view text);
    // Loads the file and merges it with the cellular log, newest first, one
    // row per number, at most kMaxHistoryRows rows. `contacts` may be null.
    std::vector<CallLogEntry> build_history(CellularCallLog& cellular,
                                            const ContactNames* contacts);

    std::vector<CallLogEntry> entries() const;
    // The file text of the newest kMaxSavedRecords entries.
    std::string file_text() const;

    // A number longer than five characters that starts with neither '0' nor
    // '+' is taken as international without its plus and gets one.
    static std::wstring normalize_number(const std::wstring& number);
    static uint64_t system_file_time();

private:
    void reload_locked(const std::optional<std::string>& file);
    void load_locked(std::string_view text);
    std::string file_text_locked() const;
    void remove_number_locked(const std::wstring& number);
    bool holds_number_locked(const std::wstring& number) const;

    const std::string path_;
    const FileTimeSource now_;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<CallLogEntry>> entries_; // newest first
    uint64_t edits_ = 0;
    std::string last_text_; // the file text of the latest add

    // Orders file writes: a text built later is never overwritten by an older one.
    std::mutex write_mutex_;
    uint64_t written_edit_ = 0;

    std::mutex listener_mutex_;
    CallLogListener* listener_ = nullptr;
};

} // namespace vokar
