// vokar-cli: the headless client. One per data directory, like the windowed
// client; commands on stdin, JSON lines on stdout.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/json.h"
#include "cli/line_io.h"
#include "cli/options.h"
#include "platform/audio_device.h"
#include "platform/data_dir.h"
#include "platform/operator_config.h"

namespace vokar::cli {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr size_t kMaxPasswordLine = 4096;

int fail(LineOutput& out, const std::string& text, int code = kExitFailure)
{
    out.line(JsonObject().add("error", text).str());
    return code;
}

// The directory given with --home, made owner-only when missing; "" on failure.
std::string home_directory(const std::string& given, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(given, ec);
    if (ec || !std::filesystem::is_directory(given)) {
        *error = "cannot make the data directory " + given;
        return {};
    }
    std::filesystem::permissions(given, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
    return given.back() == '/' ? given : given + "/";
}

// The first line of stdin, without its line end.
std::optional<std::string> read_password()
{
    LineSplitter splitter(kMaxPasswordLine);
    int c;
    std::optional<LineSplitter::Line> line;
    while (!line && (c = std::fgetc(stdin)) != EOF)
        line = splitter.feed(static_cast<char>(c));
    if (!line)
        line = splitter.finish();
    if (!line || line->overlong)
        return std::nullopt;
    if (!line->text.empty() && line->text.back() == '\r')
        line->text.pop_back();
    return line->text;
}

int run(const std::vector<std::string>& args)
{
    LineOutput out(stdout);
    const ParsedOptions parsed = parse_options(args);
    if (!parsed.options) {
        std::fprintf(stderr, "vokar-cli: %s\n%s", parsed.error.c_str(), usage().c_str());
        return fail(out, parsed.error, kExitUsage);
    }
    Options options = *parsed.options;
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }

    std::string error;
    const auto config = options.config.empty()
                            ? platform::OperatorConfig::from_environment(&error)
                            : platform::OperatorConfig::load_file(options.config, &error);
    if (!config)
        return fail(out, error);
    if (options.number.empty()) {
        // The echo service's own account.
        options.number = config->get("echo_account");
        options.password = config->get("echo_account_password");
        if (options.number.empty() || options.password.empty())
            return fail(out, "--echo without NUMBER PASSWORD needs echo_account and "
                             "echo_account_password in operator.conf");
    } else if (options.password == "-") {
        const auto password = read_password();
        if (!password)
            return fail(out, "no password on stdin");
        options.password = *password;
    }

    const std::string dir = options.home.empty() ? platform::data_directory(&error)
                                                 : home_directory(options.home, &error);
    if (dir.empty())
        return fail(out, error);
    platform::InstanceLock lock;
    if (!lock.acquire(dir, &error))
        return fail(out, error);

    CliApp::Setup setup{
        .config = *config,
        .data_dir = dir,
        .user = options.number,
        .password = options.password,
        .echo = options.echo,
        .make_audio_devices = {},
    };
    if (!options.echo) {
        platform::AudioChoice choice = platform::default_audio_choice();
        if (!options.audio_in.empty())
            choice.in = options.audio_in;
        if (!options.audio_out.empty())
            choice.out = options.audio_out;
        setup.make_audio_devices = [choice] { return platform::make_audio_devices(choice); };
    }
    CliApp app(std::move(setup), out);
    return app.run(stdin);
}

} // namespace
} // namespace vokar::cli

int main(int argc, char** argv)
{
    try {
        return vokar::cli::run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vokar-cli: %s\n", e.what());
        return 1;
    }
}
