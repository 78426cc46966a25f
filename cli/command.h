#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vokar::cli {

// One line of the command grammar (see cli/README.md).
enum class Verb {
    Friends,
    Chat,
    Add,
    Accept,
    Status,
    Holler,
    Call,
    Answer,
    Reject,
    Hangup,
    Keys,
    Sms,
    Balance,
    Quit,
};

struct Command {
    Verb verb = Verb::Quit;
    // The verb's first argument: the recipient, number, JID, status word
    // or key digits.
    std::string target;
    // The rest of the line for chat, sms and status, spaces kept.
    std::string text;
    // answer, reject, hangup: the call's id; 0 names the current call.
    int call_id = 0;
};

struct ParsedCommand {
    std::optional<Command> command;
    std::string error; // why the line is not a command, when command is empty
};

// Parses one command line (without its newline; a trailing CR is ignored).
// Arguments must be valid UTF-8 without control characters (tab aside), so
// nothing unsafe reaches the XMPP stream or the web requests.
ParsedCommand parse_command(std::string_view line);

// True for a line with nothing but blanks: it is skipped, not answered.
bool is_blank(std::string_view line);

} // namespace vokar::cli
