#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vokar::operatord {

struct ProgramRun {
    std::vector<std::string> argv; // argv[0]: a path, or a name looked up as find_program does
    // Variables set (or replaced) in the child's environment; the rest is ours.
    std::map<std::string, std::string> environment;
    std::string input; // written to the child's stdin, which is then closed
    std::chrono::milliseconds timeout{10000};
    size_t output_limit = 1 << 20; // per stream; more fails the run
};

struct ProgramResult {
    // The child ran to its end within the time and output limits.
    bool completed = false;
    int exit_code = -1; // when completed and it exited (not signalled)
    std::string out;
    std::string err;
    // Why it did not complete, or how it ended when not with status 0.
    std::string failure;

    bool succeeded() const { return completed && exit_code == 0; }
};

// Runs a program without a shell and waits for it, at most `timeout`; a
// child still running then is killed. It inherits no descriptor but its
// three pipes, and its stdin input never appears on a command line.
ProgramResult run_program(const ProgramRun& run);

// The full path of an executable `name`: as given when it holds a '/', else
// the first match in $PATH, then /usr/sbin and /sbin (where Debian keeps
// administrative tools that an ordinary user's PATH leaves out).
std::optional<std::string> find_program(const std::string& name);

} // namespace vokar::operatord
