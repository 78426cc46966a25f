#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vokar::cli {

// vokar-cli's command line.
struct Options {
    std::string home;   // empty: the data directory rule (VOKAR_HOME, XDG_DATA_HOME, ~)
    std::string config; // empty: VOKAR_OPERATOR_CONF, else the compiled-in values
    // "sdl", "none" or a WAV path; empty: VOKAR_AUDIO_IN / VOKAR_AUDIO_OUT, else "sdl".
    std::string audio_in, audio_out;
    bool echo = false;
    // Both empty only with --echo (the account then comes from operator.conf).
    std::string number, password; // password "-": the first line of stdin
    bool help = false;
};

struct ParsedOptions {
    std::optional<Options> options;
    std::string error;
};

// args: the arguments after the program name.
ParsedOptions parse_options(const std::vector<std::string>& args);

std::string usage();

} // namespace vokar::cli
