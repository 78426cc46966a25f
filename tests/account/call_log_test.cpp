#include "account/call_log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vokar {
namespace {

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CallLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "vokar_call_log_" + std::to_string(::getpid());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = dir_ + "/CallLog.txt";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    CallLog make_log()
    {
        return CallLog(path_, [this] { return ++now_; });
    }
    void write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }

    std::string dir_;
    std::string path_;
    uint64_t now_ = (uint64_t{7} << 32) + 100;
};

class RecordingListener final : public CallLogListener {
public:
    void call_added(const CallLogEntry& entry) override { added.push_back(entry); }
    std::vector<CallLogEntry> added;
};

class FixedCellularLog final : public CellularCallLog {
public:
    std::vector<CallLogEntry> newest(size_t maximum) override
    {
        return {calls.begin(), calls.begin() + std::min(maximum, calls.size())};
    }
    std::vector<CallLogEntry> calls;
};

class FixedNames final : public ContactNames {
public:
    bool ready() const override { return true; }
    std::wstring name_for(const std::wstring& number) const override
    {
        return number == L"+441234567890" ? L"Ann" : number;
    }
};

TEST_F(CallLogTest, NormalisesNumbersAndKeepsOneEntryPerNumber)
{
    EXPECT_EQ(CallLog::normalize_number(L"0123456789"), L"0123456789");
    EXPECT_EQ(CallLog::normalize_number(L"44123456789"), L"+44123456789");
    EXPECT_EQ(CallLog::normalize_number(L"12345"), L"12345");
    EXPECT_EQ(CallLog::normalize_number(L"+4412345"), L"+4412345");

    CallLog log = make_log();
    RecordingListener listener;
    log.set_listener(&listener);
    log.add(L"441234567890", L"", kCallMissed);
    log.add(L"555", L"Bob", kCallOutgoing);
    log.add(L"+441234567890", L"Ann", kCallIncoming);
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].number, L"+441234567890");
    EXPECT_EQ(entries[0].name, L"Ann");
    EXPECT_EQ(entries[0].type, kCallIncoming);
    EXPECT_EQ(entries[0].start_time, now_);
    EXPECT_EQ(entries[1].name, L"Bob");
    ASSERT_EQ(listener.added.size(), 3u);
    EXPECT_EQ(listener.added[0].name, L"+441234567890"); // empty name: the number
}

TEST_F(CallLogTest, FileHoldsFiveLinesPerRecordAndTenNewestSurviveRestart)
{
    {
        CallLog log = make_log();
        log.add(L"999", L"Cat", kCallOutgoing);
        EXPECT_EQ(read_all(path_), "Cat\n999\n2\n7\n101\n");
        for (int i = 0; i < 10; ++i)
            log.add(L"10" + std::to_wstring(i), L"", kCallMissed);
    }
    CallLog restarted = make_log();
    restarted.load();
    const auto entries = restarted.entries();
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries.front().number, L"109");
    EXPECT_EQ(entries.front().start_time, (uint64_t{7} << 32) + 111);
    EXPECT_TRUE(entries.front().from_file);
    EXPECT_EQ(entries.back().number, L"100"); // "999", the oldest, is gone
}

TEST_F(CallLogTest, SaveReplacesTheFileInsteadOfRewritingIt)
{
    write("Old\n123\n1\n0\n5\n");
    struct stat before {};
    ASSERT_EQ(::stat(path_.c_str(), &before), 0);
    CallLog log = make_log();
    log.load();
    log.add(L"456", L"New", kCallOutgoing);
    struct stat after {};
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(read_all(path_), "New\n456\n2\n7\n101\nOld\n123\n1\n0\n5\n");
    EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
}

TEST_F(CallLogTest, ConcurrentAddsLeaveTheFileMatchingTheLog)
{
    CallLog log(path_);
    RecordingListener listener;
    log.set_listener(&listener);
    auto adder = [&log](wchar_t first) {
        for (int i = 0; i < 20; ++i)
            log.add(first + std::to_wstring(i), L"", kCallIncoming);
    };
    std::thread other(adder, L'7');
    adder(L'8');
    FixedCellularLog cellular;
    (void)log.build_history(cellular, nullptr);
    other.join();
    EXPECT_EQ(listener.added.size(), 40u);
    EXPECT_EQ(read_all(path_), log.file_text());
}

TEST_F(CallLogTest, LoadStopsAtDamageAndKeepsWhatCameBefore)
{
    struct Case {
        std::string text;
        std::vector<std::wstring> numbers;
    };
    const Case cases[] = {
        {"\n777\n0\n0\n1\nA\n888\nx\n0\n1\nB\n999\n0\n0\n1\n", {L"777"}}, // not a number
        {"A\n888\n1\n99999999999\n1\n", {}},                              // out of range
        {"A\n888\n1\n0", {L"888"}},                                       // truncated last record
        {"\n\n0\n0\n0\nB\n+555\n-1 3 4 trailing\n", {L"+555"}}, // empty name and number skipped
        {"A\n888\n1\n0\n1\nB\n888\n2\n0\n0\n", {L"888"}},       // the newest of a number wins
        {std::string("\xff\xfe\0garbage", 10), {}},
    };
    for (const Case& c : cases) {
        CallLog log = make_log();
        log.load_from(c.text);
        std::vector<std::wstring> numbers;
        for (const auto& entry : log.entries())
            numbers.push_back(entry.number);
        EXPECT_EQ(numbers, c.numbers) << c.text;
    }
    CallLog log = make_log();
    log.load_from("\n777\n0\n0\n1\n");
    EXPECT_EQ(log.entries().at(0).name, L"777");
    log.load_from("A\n888\n1\n2\n3\nB\n999\n-1 3 4 trailing\n");
    EXPECT_EQ(log.entries().at(1).type, -1);
    EXPECT_EQ(log.entries().at(1).start_time, (uint64_t{3} << 32) + 4);
}

TEST_F(CallLogTest, HistoryMergesNewestFirstWithOneRowPerNumber)
{
    write("Old name\n+441234567890\n1\n0\n300\nZed\n222\n2\n0\n100\n");
    CallLog log = make_log();
    FixedCellularLog cellular;
    cellular.calls = {{L"", L"333", 250, kCallMissed, false, false},
                      {L"Dup", L"+441234567890", 200, kCallOutgoing, false, false},
                      {L"", L"", 150, kCallMissed, false, false}};
    FixedNames names;
    const auto history = log.build_history(cellular, &names);
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0].name, L"Ann");
    EXPECT_TRUE(history[0].from_contacts);
    EXPECT_TRUE(history[0].from_file);
    EXPECT_EQ(history[1].name, L"333");
    EXPECT_EQ(history[2].name, L"Zed");

    cellular.calls.clear();
    for (int i = 0; i < 60; ++i)
        cellular.calls.push_back(
            {L"", std::to_wstring(1000 + i), uint64_t(1000 - i), 0, false, false});
    EXPECT_EQ(log.build_history(cellular, nullptr).size(), CallLog::kMaxHistoryRows);
    EXPECT_TRUE(make_empty_cellular_call_log()->newest(50).empty());
}

} // namespace
} // namespace vokar
