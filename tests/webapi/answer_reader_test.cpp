#include "webapi/web_answer_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace vokar {
namespace {

using State = WebAnswerReader::State;

// A close that follows the chunks.
enum class End { Open, Closed, Reset };

struct ReaderCase {
    const char* name;
    std::vector<std::string> chunks;
    End end;
    State expected;
    std::string body;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ReaderCase& c, std::ostream* os)
{
    *os << c.name;
}

class AnswerReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(AnswerReaderTest, Reads)
{
    const ReaderCase& c = GetParam();
    WebAnswerReader reader;
    for (const std::string& chunk : c.chunks)
        reader.feed(chunk);
    if (c.end != End::Open)
        reader.close(c.end == End::Closed);
    EXPECT_EQ(reader.state(), c.expected);
    EXPECT_EQ(reader.body(), c.body);
}

const std::string kBig(70000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Answers, AnswerReaderTest,
    ::testing::Values(
        ReaderCase{"LengthSplitOverPackets",
                   {"HTTP/1.1 200 OK\r\nContent-", "Length: 5\r\n\r\n0ab", "c", "d"},
                   End::Open,
                   State::Complete,
                   "0abcd"},
        ReaderCase{"LengthEndsTheBodyAndLaterBytesAreIgnored",
                   {"HTTP/1.0 200 OK\r\nContent-length: 2\r\n\r\n0abc"},
                   End::Open,
                   State::Complete,
                   "0a"},
        ReaderCase{"HeaderTerminatorSplit",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 2\r", "\n\r", "\n01"},
                   End::Open,
                   State::Complete,
                   "01"},
        ReaderCase{"NoLengthWaitsForTheClose",
                   {"HTTP/1.1 200 OK\r\n\r\n0-SIP\n", "a:1\n"},
                   End::Open,
                   State::Reading,
                   ""},
        ReaderCase{"NoLengthReadsUntilClose",
                   {"HTTP/1.1 200 OK\r\n\r\n0-SIP\n", "a:1\n"},
                   End::Closed,
                   State::Complete,
                   "0-SIP\na:1\n"},
        ReaderCase{"NoLengthResetIsAFailure",
                   {"HTTP/1.1 200 OK\r\n\r\n0abc"},
                   End::Reset,
                   State::Failed,
                   ""},
        ReaderCase{"LowerCaseHeaderName",
                   {"HTTP/1.1 200 OK\r\ncontent-length:  3 \r\n\r\n0ab"},
                   End::Open,
                   State::Complete,
                   "0ab"},
        ReaderCase{"NotFound",
                   {"HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\n0x"},
                   End::Open,
                   State::Failed,
                   ""},
        ReaderCase{"ServerError", {"HTTP/1.1 500 OK\r\n\r\n0x"}, End::Closed, State::Failed, ""},
        ReaderCase{
            "StatusCodeLonger", {"HTTP/1.1 2000 OK\r\n\r\n0x"}, End::Closed, State::Failed, ""},
        ReaderCase{"NotHttp1", {"HTTP/2 200\r\n\r\n0x"}, End::Closed, State::Failed, ""},
        ReaderCase{"NoStatusLine", {"0-SIP\r\n\r\n"}, End::Closed, State::Failed, ""},
        ReaderCase{"StatusWithoutReason",
                   {"HTTP/1.1 200\r\nContent-Length: 1\r\n\r\n0"},
                   End::Open,
                   State::Complete,
                   "0"},
        ReaderCase{"CloseInsideHeaders",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n"},
                   End::Closed,
                   State::Failed,
                   ""},
        ReaderCase{"BodyCutShort",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n0abc"},
                   End::Closed,
                   State::Failed,
                   ""},
        ReaderCase{"MalformedLength",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n0"},
                   End::Closed,
                   State::Failed,
                   ""},
        ReaderCase{"ConflictingLengths",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n01"},
                   End::Open,
                   State::Failed,
                   ""},
        ReaderCase{"ChunkedCoding",
                   {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\n0\r\n"},
                   End::Closed,
                   State::Failed,
                   ""},
        ReaderCase{"DeclaredLengthOverTheCap",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n0"},
                   End::Open,
                   State::Failed,
                   ""},
        ReaderCase{"UndeclaredBodyOverTheCap",
                   {"HTTP/1.1 200 OK\r\n\r\n0", kBig},
                   End::Open,
                   State::Failed,
                   ""},
        ReaderCase{"HeaderBlockOverTheCap",
                   {"HTTP/1.1 200 OK\r\nX: ", kBig},
                   End::Open,
                   State::Failed,
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnswerReaderCapTest, AnAnswerOfExactlyTheCapIsRead)
{
    const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
    const std::string body(WebAnswerReader::kMaxAnswerBytes - head.size(), '0');
    WebAnswerReader reader;
    for (size_t at = 0; at < body.size(); at += 5000)
        reader.feed(at == 0 ? head + body.substr(0, 5000) : body.substr(at, 5000));
    EXPECT_EQ(reader.close(true), State::Complete);
    EXPECT_EQ(reader.body().size(), body.size());
}

} // namespace
} // namespace vokar
