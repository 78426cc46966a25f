// The headless client's own pieces: JSON output, the command grammar, the
// command line, the input splitter and the echo's delay line.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "cli/command.h"
#include "cli/echo_audio.h"
#include "cli/json.h"
#include "cli/line_io.h"
#include "cli/options.h"

namespace vokar::cli {
namespace {

using namespace std::chrono_literals;

TEST(JsonString, EscapesControlCharactersAndKeepsUtf8)
{
    EXPECT_EQ(json_string("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(json_string("\n\r\t\b\f"), R"("\n\r\t\b\f")");
    EXPECT_EQ(json_string(std::string("\x00\x01\x1f\x7f", 4)), R"("\u0000\u0001\u001f\u007f")");
    // Two-, three- and four-byte sequences pass unchanged.
    EXPECT_EQ(json_string("h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80"),
              "\"h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80\"");
    EXPECT_EQ(json_string("/<\xe2\x80\xa8>"), "\"/<\xe2\x80\xa8>\"");
}

TEST(JsonString, ReplacesBytesThatAreNotUtf8)
{
    const std::string fffd = "\\ufffd";
    EXPECT_EQ(json_string("\x80"), "\"" + fffd + "\"");                       // lone continuation
    EXPECT_EQ(json_string("\xc0\x80"), "\"" + fffd + fffd + "\"");            // overlong NUL
    EXPECT_EQ(json_string("\xed\xa0\x80"), "\"" + fffd + fffd + fffd + "\""); // surrogate
    EXPECT_EQ(json_string("a\xe2\x82"), "\"a" + fffd + fffd + "\"");          // cut at the end
    EXPECT_EQ(json_string("\xf5\x80\x80\x80x").substr(0, 7), "\"" + fffd);
    EXPECT_EQ(json_string("\xf4\x90\x80\x80"), "\"" + fffd + fffd + fffd + fffd + "\"");
}

TEST(JsonObject, WritesFieldsInOrder)
{
    EXPECT_EQ(JsonObject().add("event", "call").add("id", 3).add("ok", true).str(),
              R"({"event":"call","id":3,"ok":true})");
    EXPECT_EQ(JsonObject().add("text", std::wstring(L"caf\u00e9")).str(),
              "{\"text\":\"caf\xc3\xa9\"}");
    EXPECT_EQ(JsonObject().add_raw("list", json_array({"1", R"("a")"})).str(),
              R"({"list":[1,"a"]})");
}

TEST(ParseCommand, AcceptsEveryVerbWithItsArguments)
{
    struct Case {
        const char* line;
        Verb verb;
        const char* target;
        const char* text;
        int id;
    };
    const Case cases[] = {
        {"friends", Verb::Friends, "", "", 0},
        {"chat bob  hello  there ", Verb::Chat, "bob", "hello  there", 0},
        {"chat bob@vokar.test caf\xc3\xa9\r", Verb::Chat, "bob@vokar.test", "caf\xc3\xa9", 0},
        {"add 15550101", Verb::Add, "15550101", "", 0},
        {"accept carol@vokar.test", Verb::Accept, "carol@vokar.test", "", 0},
        {"status away out for lunch", Verb::Status, "away", "out for lunch", 0},
        {"status busy", Verb::Status, "busy", "", 0},
        {"holler bob", Verb::Holler, "bob", "", 0},
        {"  call\tbob", Verb::Call, "bob", "", 0},
        {"answer", Verb::Answer, "", "", 0},
        {"answer 2", Verb::Answer, "", "", 2},
        {"reject 1", Verb::Reject, "", "", 1},
        {"hangup", Verb::Hangup, "", "", 0},
        {"keys 12#*0", Verb::Keys, "12#*0", "", 0},
        {"sms +15550101 see you", Verb::Sms, "+15550101", "see you", 0},
        {"balance", Verb::Balance, "", "", 0},
        {"quit", Verb::Quit, "", "", 0},
    };
    for (const auto& c : cases) {
        const ParsedCommand parsed = parse_command(c.line);
        ASSERT_TRUE(parsed.command) << c.line << ": " << parsed.error;
        EXPECT_EQ(parsed.command->verb, c.verb) << c.line;
        EXPECT_EQ(parsed.command->target, c.target) << c.line;
        EXPECT_EQ(parsed.command->text, c.text) << c.line;
        EXPECT_EQ(parsed.command->call_id, c.id) << c.line;
    }
}

TEST(ParseCommand, RefusesMalformedLinesWithAReason)
{
    const std::string bad[] = {
        "",
        "dance",
        "Chat bob hi",
        "chat",
        "chat bob",
        "call",
        "call bob alice",
        "friends now",
        "quit please",
        "answer 0",
        "answer -1",
        "answer 1x",
        "answer 99999999999",
        "hangup 1 2",
        "keys",
        "keys 12a",
        "keys " + std::string(65, '1'),
        "status idle",
        "sms bob hi",
        "sms + hi",
        "call " + std::string(2000, 'a'),
        std::string("chat bob a\x01z"),
        "chat bob \x1b[2J",
        "chat bob a\xc2\x85z", // a C1 control
        "chat bob \xff\xfe",
        std::string("chat bob a\0b", 12),
    };
    for (const auto& line : bad) {
        const ParsedCommand parsed = parse_command(line);
        EXPECT_FALSE(parsed.command) << line;
        EXPECT_FALSE(parsed.error.empty()) << line;
    }
    EXPECT_TRUE(is_blank(" \t\r"));
    EXPECT_FALSE(is_blank(" x"));
}

TEST(ParseOptions, ReadsTheCommandLine)
{
    auto parsed = parse_options({"--home", "/tmp/h", "--config=/tmp/o.conf", "--audio-in", "in.wav",
                                 "--audio-out=none", "15550100", "-"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->home, "/tmp/h");
    EXPECT_EQ(parsed.options->config, "/tmp/o.conf");
    EXPECT_EQ(parsed.options->audio_in, "in.wav");
    EXPECT_EQ(parsed.options->audio_out, "none");
    EXPECT_EQ(parsed.options->number, "15550100");
    EXPECT_EQ(parsed.options->password, "-");
    EXPECT_FALSE(parsed.options->echo);

    // The echo service may take its account from operator.conf.
    parsed = parse_options({"--echo"});
    ASSERT_TRUE(parsed.options);
    EXPECT_TRUE(parsed.options->echo);
    EXPECT_TRUE(parsed.options->number.empty());

    EXPECT_TRUE(parse_options({"--help"}).options->help);
    EXPECT_FALSE(parse_options({}).options);
    EXPECT_FALSE(parse_options({"15550100"}).options);
    EXPECT_FALSE(parse_options({"a", "b", "c"}).options);
    EXPECT_FALSE(parse_options({"--home"}).options);
    EXPECT_FALSE(parse_options({"--volume", "3", "a", "b"}).options);
    EXPECT_FALSE(parse_options({"bob@x", "pw"}).options);
}

TEST(LineSplitter, DropsOverlongLinesAndKeepsTheNext)
{
    LineSplitter splitter(4);
    std::vector<LineSplitter::Line> lines;
    for (const char c : std::string("abcd\nabcdefgh\nok\nend"))
        if (auto line = splitter.feed(c))
            lines.push_back(*line);
    if (auto line = splitter.finish())
        lines.push_back(*line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "abcd");
    EXPECT_FALSE(lines[0].overlong);
    EXPECT_TRUE(lines[1].overlong);
    EXPECT_TRUE(lines[1].text.empty());
    EXPECT_EQ(lines[2].text, "ok");
    EXPECT_EQ(lines[3].text, "end");
    EXPECT_FALSE(splitter.finish());
}

TEST(DelayLine, GivesBackWhatItGotExactlyTheDelayLater)
{
    DelayLine line(5, 4);
    std::vector<int16_t> out(3);
    EXPECT_FALSE(line.read(out.data(), 1)); // nothing beyond the delay yet
    const int16_t in[] = {1, 2, 3, 4, 5, 6, 7};
    line.write(in, 3);
    ASSERT_TRUE(line.read(out.data(), 3));
    EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 0}));
    line.write(in + 3, 4);
    ASSERT_TRUE(line.read(out.data(), 3));
    EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 1}));
    EXPECT_FALSE(line.read(out.data(), 3));

    // Without a reader it keeps delay + slack samples, dropping the oldest.
    for (int i = 0; i < 100; ++i)
        line.write(in, 7);
    EXPECT_EQ(line.size(), 9u);
    line.reset();
    EXPECT_EQ(line.size(), 5u);
    line.write(in, 1);
    ASSERT_TRUE(line.read(out.data(), 1));
    EXPECT_EQ(out[0], 0);
}

// What the echo's microphone delivers, recorded.
struct Captured {
    std::mutex mutex;
    std::condition_variable grew;
    std::vector<int16_t> samples;
};

TEST(EchoDevices, TheMicrophoneHearsTheSpeakerOneSecondLater)
{
    EchoDevices devices;
    auto out = devices.open_wave_out();
    auto in = devices.open_wave_in();
    constexpr size_t kBlock = 480; // 60 ms
    Captured captured;
    int played = 0;
    std::vector<int16_t> marked(kBlock, 1000);
    ASSERT_TRUE(out->start(kBlock * 2, [&] { ++played; }));
    ASSERT_TRUE(in->start(kBlock * 2, [&](const int16_t* s, size_t bytes) {
        std::lock_guard lock(captured.mutex);
        captured.samples.insert(captured.samples.end(), s, s + bytes / 2);
        captured.grew.notify_all();
    }));
    out->write(marked.data(), kBlock * 2);
    out->restart();
    {
        std::unique_lock lock(captured.mutex);
        ASSERT_TRUE(captured.grew.wait_for(lock, 5s, [&] {
            return captured.samples.size() >= EchoDevices::kDelaySamples + 2 * kBlock;
        }));
    }
    in->stop();
    out->stop();
    EXPECT_EQ(played, 1);
    // The block the speaker played first comes back after a second of silence.
    const auto& s = captured.samples;
    const auto first = std::find(s.begin(), s.end(), int16_t{1000});
    ASSERT_NE(first, s.end());
    const size_t at = static_cast<size_t>(first - s.begin());
    EXPECT_EQ(at, EchoDevices::kDelaySamples);
    EXPECT_EQ(std::count(s.begin(), s.end(), int16_t{1000}), static_cast<long>(kBlock));
}

} // namespace
} // namespace vokar::cli
