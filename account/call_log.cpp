#include "account/call_log.h"

#include <chrono>
#include <limits>

#include "platform/file.h"
#include "platform/text.h"

namespace vokar {
namespace {

// 1 January 1970 as FILETIME.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;
// Bounds what a damaged or hostile file can make the loader keep.
constexpr size_t kMaxLoadedRecords = 1000;

// Reads the call-log text the way the file was always read: two lines, then
// three whitespace-separated decimal numbers, then the rest of the line.
class RecordReader {
public:
    explicit RecordReader(std::string_view text) : text_(text) {}

    bool at_end() const { return pos_ >= text_.size(); }

    // False at the end of the text.
    bool line(std::string* out)
    {
        if (at_end())
            return false;
        const size_t end = text_.find('\n', pos_);
        const size_t stop = end == std::string_view::npos ? text_.size() : end;
        std::string_view got = text_.substr(pos_, stop - pos_);
        if (!got.empty() && got.back() == '\r')
            got.remove_suffix(1);
        out->assign(got);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        return true;
    }

    enum class Number { kRead, kEnd, kBad };

    Number number(int64_t minimum, int64_t maximum, int64_t* out)
    {
        while (!at_end() && is_space(text_[pos_]))
            ++pos_;
        if (at_end())
            return Number::kEnd;
        bool negative = false;
        if (text_[pos_] == '+' || text_[pos_] == '-') {
            negative = text_[pos_] == '-';
            ++pos_;
        }
        int64_t value = 0;
        size_t digits = 0;
        for (; !at_end() && text_[pos_] >= '0' && text_[pos_] <= '9'; ++pos_, ++digits) {
            value = value * 10 + (text_[pos_] - '0');
            if (value > maximum + 1)
                return Number::kBad;
        }
        if (digits == 0)
            return Number::kBad;
        if (negative)
            value = -value;
        if (value < minimum || value > maximum)
            return Number::kBad;
        *out = value;
        return Number::kRead;
    }

    void skip_line()
    {
        const size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    }

private:
    static bool is_space(char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    std::string_view text_;
    size_t pos_ = 0;
};

// A line break inside a name or number would shift every later record.
std::string single_line(const std::wstring& text)
{
    std::string line = platform::to_utf8(text);
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    return line;
}

class EmptyCellularCallLog final : public CellularCallLog {
public:
    std::vector<CallLogEntry> newest(size_t) override { return {}; }
};

} // namespace

std::unique_ptr<CellularCallLog> make_empty_cellular_call_log()
{
    return std::make_unique<EmptyCellularCallLog>();
}

CallLog::CallLog(std::string path, FileTimeSource now)
    : path_(std::move(path)), now_(now ? std::move(now) : FileTimeSource(&system_file_time))
{
}

uint64_t CallLog::system_file_time()
{
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto units =
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
    return kUnixEpochFileTime + static_cast<uint64_t>(units);
}

std::wstring CallLog::normalize_number(const std::wstring& number)
{
    if (number.size() > 5 && number[0] != L'0' && number[0] != L'+')
        return L"+" + number;
    return number;
}

void CallLog::set_listener(CallLogListener* listener)
{
    std::lock_guard lock(listener_mutex_);
    listener_ = listener;
}

void CallLog::remove_number_locked(const std::wstring& number)
{
    for (size_t i = entries_.size(); i-- > 0;)
        if (entries_[i]->number == number)
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
}

bool CallLog::holds_number_locked(const std::wstring& number) const
{
    for (const auto& entry : entries_)
        if (entry->number == number)
            return true;
    return false;
}

void CallLog::add(const std::wstring& number, const std::wstring& name, int32_t type)
{
    auto entry = std::make_unique<CallLogEntry>();
    entry->number = normalize_number(number);
    entry->name = name.empty() ? entry->number : name;
    entry->type = type;
    entry->start_time = now_();
    const CallLogEntry added = *entry;

    std::string text;
    uint64_t edit = 0;
    {
        std::lock_guard lock(mutex_);
        // The number as given and its stored form: a number given without
        // its plus replaces the entry that has it.
        remove_number_locked(number);
        remove_number_locked(entry->number);
        entries_.insert(entries_.begin(), std::move(entry));
        text = file_text_locked();
        last_text_ = text;
        edit = ++edits_;
    }
    {
        std::lock_guard lock(listener_mutex_);
        if (listener_)
            listener_->call_added(added);
    }
    std::lock_guard lock(write_mutex_);
    if (edit > written_edit_) {
        // A failed write keeps the old file; the call stays in memory.
        (void)platform::write_file_atomically(path_, text);
        written_edit_ = edit;
    }
}

void CallLog::load()
{
    const auto text = platform::read_file(path_, kMaxFileBytes);
    std::lock_guard lock(mutex_);
    reload_locked(text);
}

void CallLog::reload_locked(const std::optional<std::string>& file)
{
    // One client runs per data directory, so after an add the file holds (or
    // is about to hold) the text that add produced; reading that text avoids
    // racing a write still in progress.
    if (edits_ > 0)
        load_locked(last_text_);
    else
        load_locked(file ? std::string_view(*file) : std::string_view());
}

void CallLog::load_from(std::string_view text)
{
    std::lock_guard lock(mutex_);
    load_locked(text);
}

void CallLog::load_locked(std::string_view text)
{
    entries_.clear();
    RecordReader reader(text);
    std::string name;
    std::string number;
    size_t records = 0;
    while (!reader.at_end() && records++ < kMaxLoadedRecords) {
        // A file that ends inside a record keeps what was read once the
        // number line is there; anything unreadable ends the file.
        if (!reader.line(&name) || !reader.line(&number))
            break;
        int64_t fields[3] = {};
        const int64_t minimum[3] = {std::numeric_limits<int32_t>::min(), 0, 0};
        const int64_t maximum[3] = {std::numeric_limits<int32_t>::max(),
                                    std::numeric_limits<uint32_t>::max(),
                                    std::numeric_limits<uint32_t>::max()};
        RecordReader::Number read = RecordReader::Number::kRead;
        for (size_t i = 0; i < 3 && read == RecordReader::Number::kRead; ++i)
            read = reader.number(minimum[i], maximum[i], &fields[i]);
        if (read == RecordReader::Number::kBad)
            break;
        reader.skip_line();

        auto entry = std::make_unique<CallLogEntry>();
        entry->name = platform::to_wide(name.empty() ? number : name);
        entry->number = normalize_number(platform::to_wide(number));
        entry->type = static_cast<int32_t>(fields[0]);
        entry->start_time =
            (static_cast<uint64_t>(fields[1]) << 32) | static_cast<uint64_t>(fields[2]);
        entry->from_file = true;
        // Records are newest first: a later one of the same number is older.
        if (!entry->name.empty() && !holds_number_locked(entry->number))
            entries_.push_back(std::move(entry));
        if (read == RecordReader::Number::kEnd)
            break;
    }
}

std::string CallLog::file_text_locked() const
{
    std::string text;
    for (size_t i = 0; i < entries_.size() && i < kMaxSavedRecords; ++i) {
        const CallLogEntry& entry = *entries_[i];
        text += single_line(entry.name) + '\n';
        text += single_line(entry.number) + '\n';
        text += std::to_string(entry.type) + '\n';
        text += std::to_string(static_cast<uint32_t>(entry.start_time >> 32)) + '\n';
        text += std::to_string(static_cast<uint32_t>(entry.start_time)) + '\n';
    }
    return text;
}

std::string CallLog::file_text() const
{
    std::lock_guard lock(mutex_);
    return file_text_locked();
}

std::vector<CallLogEntry> CallLog::entries() const
{
    std::lock_guard lock(mutex_);
    std::vector<CallLogEntry> copy;
    copy.reserve(entries_.size());
    for (const auto& entry : entries_)
        copy.push_back(*entry);
    return copy;
}

std::vector<CallLogEntry> CallLog::build_history(CellularCallLog& cellular,
                                                 const ContactNames* contacts)
{
    const auto text = platform::read_file(path_, kMaxFileBytes);
    std::vector<CallLogEntry> phone = cellular.newest(kMaxHistoryRows);
    if (phone.size() > kMaxHistoryRows)
        phone.resize(kMaxHistoryRows);
    const bool named = contacts && contacts->ready();

    std::lock_guard lock(mutex_);
    reload_locked(text);

    std::vector<CallLogEntry> history;
    auto append = [&](CallLogEntry row) {
        if (history.size() >= kMaxHistoryRows)
            return;
        for (const CallLogEntry& held : history)
            if (held.number == row.number)
                return;
        history.push_back(std::move(row));
    };
    auto client_row = [&](const CallLogEntry& entry) {
        CallLogEntry row = entry;
        if (named) {
            const std::wstring found = contacts->name_for(entry.number);
            if (found != entry.number)
                row.name = found;
            row.from_contacts = true;
        }
        return row;
    };

    size_t next_client = 0;
    for (const CallLogEntry& call : phone) {
        if (call.number.empty())
            continue;
        while (next_client < entries_.size() && entries_[next_client]->start_time > call.start_time)
            append(client_row(*entries_[next_client++]));
        CallLogEntry row = call;
        row.from_file = false;
        row.from_contacts = named;
        const std::wstring found = named ? contacts->name_for(call.number) : call.number;
        if (found != call.number)
            row.name = found;
        else if (row.name.empty())
            row.name = call.number;
        append(std::move(row));
    }
    while (next_client < entries_.size() && history.size() < kMaxHistoryRows)
        append(client_row(*entries_[next_client++]));
    return history;
}

} // namespace vokar
