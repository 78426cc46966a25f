#include "cli/command.h"

#include "cli/json.h"

#include <array>
#include <charconv>
#include <utility>

namespace vokar::cli {
namespace {

constexpr size_t kMaxTarget = 1024;
constexpr size_t kMaxDigits = 64;

bool is_space(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim_front(std::string_view s)
{
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trim_back(std::string_view s)
{
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return s;
}

// The first blank-delimited word of `*rest`, which keeps what follows it
// (leading blanks removed).
std::string_view next_word(std::string_view* rest)
{
    std::string_view s = trim_front(*rest);
    size_t end = 0;
    while (end < s.size() && !is_space(s[end]))
        ++end;
    *rest = trim_front(s.substr(end));
    return s.substr(0, end);
}

// Valid UTF-8 with no control character other than tab (C1 controls included).
bool is_clean_text(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return false;
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0)
            return false;
        const size_t n = utf8_sequence(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

ParsedCommand fail(std::string error)
{
    return {std::nullopt, std::move(error)};
}

struct VerbName {
    std::string_view name;
    Verb verb;
};
constexpr std::array<VerbName, 14> kVerbs{{
    {"friends", Verb::Friends},
    {"chat", Verb::Chat},
    {"add", Verb::Add},
    {"accept", Verb::Accept},
    {"status", Verb::Status},
    {"holler", Verb::Holler},
    {"call", Verb::Call},
    {"answer", Verb::Answer},
    {"reject", Verb::Reject},
    {"hangup", Verb::Hangup},
    {"keys", Verb::Keys},
    {"sms", Verb::Sms},
    {"balance", Verb::Balance},
    {"quit", Verb::Quit},
}};

} // namespace

bool is_blank(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return trim_front(line).empty();
}

ParsedCommand parse_command(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (!is_clean_text(line))
        return fail("the line is not valid UTF-8 text or holds control characters");
    std::string_view rest = trim_back(line);
    const std::string_view word = next_word(&rest);
    Command command;
    bool known = false;
    for (const auto& v : kVerbs) {
        if (v.name == word) {
            command.verb = v.verb;
            known = true;
        }
    }
    if (!known)
        return fail("unknown command: " + std::string(word.substr(0, 64)));
    const std::string name(word);

    switch (command.verb) {
    case Verb::Friends:
    case Verb::Balance:
    case Verb::Quit:
        if (!rest.empty())
            return fail(name + " takes no arguments");
        break;
    case Verb::Add:
    case Verb::Accept:
    case Verb::Holler:
    case Verb::Call: {
        const std::string_view target = next_word(&rest);
        if (target.empty() || !rest.empty())
            return fail(
                "usage: " + name +
                (command.verb == Verb::Call || command.verb == Verb::Add ? " NUMBER|JID" : " JID"));
        if (target.size() > kMaxTarget)
            return fail("address too long");
        command.target = target;
        break;
    }
    case Verb::Chat:
    case Verb::Sms: {
        const std::string_view target = next_word(&rest);
        if (target.empty() || rest.empty())
            return fail(command.verb == Verb::Chat ? "usage: chat TO TEXT"
                                                   : "usage: sms NUMBER TEXT");
        if (target.size() > kMaxTarget)
            return fail("address too long");
        if (command.verb == Verb::Sms) {
            const std::string_view digits = target.front() == '+' ? target.substr(1) : target;
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
                return fail("sms needs a phone number of digits");
        }
        command.target = target;
        command.text = rest;
        break;
    }
    case Verb::Status: {
        const std::string_view status = next_word(&rest);
        if (status != "online" && status != "away" && status != "busy")
            return fail("usage: status online|away|busy [TEXT]");
        command.target = status;
        command.text = rest;
        break;
    }
    case Verb::Answer:
    case Verb::Reject:
    case Verb::Hangup: {
        const std::string_view id = next_word(&rest);
        if (!rest.empty())
            return fail("usage: " + name + " [ID]");
        if (!id.empty()) {
            int value = 0;
            const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), value);
            if (ec != std::errc() || end != id.data() + id.size() || value <= 0)
                return fail("a call id is a positive number");
            command.call_id = value;
        }
        break;
    }
    case Verb::Keys: {
        const std::string_view digits = next_word(&rest);
        if (digits.empty() || !rest.empty() ||
            digits.find_first_not_of("0123456789*#") != std::string_view::npos)
            return fail("usage: keys DIGITS (0-9, * and #)");
        if (digits.size() > kMaxDigits)
            return fail("too many keys at once");
        command.target = digits;
        break;
    }
    }
    return {std::move(command), {}};
}

} // namespace vokar::cli
