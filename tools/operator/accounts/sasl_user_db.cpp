#include "tools/operator/accounts/sasl_user_db.h"

#include <sys/stat.h>

#include "tools/operator/process/subprocess.h"

namespace vokar::operatord {
namespace {

std::string failure_text(const ProgramResult& result)
{
    std::string text = result.failure;
    std::string_view err = result.err;
    while (!err.empty() && (err.back() == '\n' || err.back() == '\r'))
        err.remove_suffix(1);
    if (!err.empty())
        text += (text.empty() ? "" : ": ") + std::string(err);
    return text;
}

} // namespace

SaslUserDb::SaslUserDb(const XmppInstance& instance, Tools tools)
    : path_(instance.sasldb_path()), realm_(instance.domain), conf_dir_(instance.sasl_conf_dir()),
      tools_(std::move(tools))
{
}

ProgramRun SaslUserDb::tool_run() const
{
    ProgramRun run;
    // The server's own Cyrus settings, never the system's.
    run.environment = {{"SASL_CONF_PATH", conf_dir_}};
    run.timeout = tools_.timeout;
    return run;
}

std::vector<std::string> SaslUserDb::saslpasswd2(std::initializer_list<const char*> flags,
                                                 std::string_view user) const
{
    std::vector<std::string> argv{tools_.saslpasswd2};
    argv.insert(argv.end(), flags.begin(), flags.end());
    // "--": a user name is never read as an option.
    argv.insert(argv.end(), {"-f", path_, "-u", realm_, "-a",
                             std::string(XmppInstance::kApplication), "--", std::string(user)});
    return argv;
}

bool SaslUserDb::set_password(std::string_view user, std::string_view password, std::string* error)
{
    // -c creates the user or replaces its password; -p reads the password
    // from stdin, up to the end of the line.
    ProgramRun run = tool_run();
    run.argv = saslpasswd2({"-c", "-p"}, user);
    run.input = std::string(password) + "\n";
    const auto result = run_program(run);
    if (!result.succeeded()) {
        *error = "cannot add " + std::string(user) + " to " + path_ + ": " + failure_text(result);
        return false;
    }
    return true;
}

bool SaslUserDb::remove(std::string_view user, std::string* error)
{
    // saslpasswd2 would create an empty database just to delete from it.
    struct stat file {};
    if (::stat(path_.c_str(), &file) != 0)
        return true;
    ProgramRun run = tool_run();
    run.argv = saslpasswd2({"-d"}, user);
    const auto result = run_program(run);
    if (!result.succeeded()) {
        *error =
            "cannot remove " + std::string(user) + " from " + path_ + ": " + failure_text(result);
        return false;
    }
    return true;
}

SaslUserDb::Presence SaslUserDb::contains(std::string_view user, std::string* error)
{
    struct stat file {};
    if (::stat(path_.c_str(), &file) != 0)
        return Presence::absent;
    ProgramRun run = tool_run();
    run.argv = {tools_.sasldblistusers2, "-f", path_};
    run.output_limit = size_t{64} << 20;
    const auto result = run_program(run);
    // It reports an unreadable database on stderr and still exits with 0.
    if (!result.succeeded() || !result.err.empty()) {
        *error = "cannot list the users of " + path_ + ": " + failure_text(result);
        return Presence::failed;
    }
    // One line per user and property: "USER@REALM: userPassword".
    const std::string wanted = std::string(user) + "@" + realm_ + ":";
    std::string_view rest = result.out;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        const std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
        if (line.starts_with(wanted))
            return Presence::present;
    }
    return Presence::absent;
}

} // namespace vokar::operatord
