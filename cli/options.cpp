#include "cli/options.h"

namespace vokar::cli {

std::string usage()
{
    return "usage: vokar-cli [--home DIR] [--config operator.conf] [--audio-in sdl|none|FILE.wav]\n"
           "                 [--audio-out sdl|none|FILE.wav] [--echo] NUMBER PASSWORD\n"
           "       vokar-cli --echo [options]   (account from echo_account in operator.conf)\n"
           "PASSWORD '-' reads the password from the first line of stdin.\n"
           "Then reads one command per line on stdin and writes JSON lines on stdout.\n"
           "Commands: friends | chat TO TEXT | add NUMBER|JID | accept JID |\n"
           "          status online|away|busy [TEXT] | holler JID | call NUMBER|JID |\n"
           "          answer [ID] | reject [ID] | hangup [ID] | keys DIGITS |\n"
           "          sms NUMBER TEXT | balance | quit\n";
}

ParsedOptions parse_options(const std::vector<std::string>& args)
{
    Options options;
    std::vector<std::string> positional;
    bool options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg.size() < 2 || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--echo") {
            options.echo = true;
            continue;
        }
        // --name VALUE or --name=VALUE
        std::string name = arg, value;
        bool has_value = false;
        if (const size_t eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            has_value = true;
        }
        std::string* field = name == "--home"        ? &options.home
                             : name == "--config"    ? &options.config
                             : name == "--audio-in"  ? &options.audio_in
                             : name == "--audio-out" ? &options.audio_out
                                                     : nullptr;
        if (!field)
            return {std::nullopt, "unknown option " + name};
        if (!has_value) {
            if (i + 1 >= args.size())
                return {std::nullopt, name + " needs a value"};
            value = args[++i];
        }
        if (value.empty())
            return {std::nullopt, name + " needs a value"};
        *field = value;
    }
    if (options.help)
        return {options, {}};
    if (positional.size() == 2) {
        options.number = positional[0];
        options.password = positional[1];
    } else if (!(positional.empty() && options.echo)) {
        return {std::nullopt, "NUMBER and PASSWORD are needed"};
    }
    if (!options.number.empty() && options.number.find_first_of(" \t@") != std::string::npos)
        return {std::nullopt, "NUMBER is a user name without blanks or '@'"};
    return {options, {}};
}

} // namespace vokar::cli
