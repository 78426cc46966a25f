#include "app/xdg_opener.h"

#include <signal.h>
#include <spawn.h>

#include <string>

extern char** environ;

namespace vokar::app {

bool XdgOpener::open(const std::string& url)
{
    // The address is one argument; "--" is not understood by xdg-open, but
    // only http(s) addresses get here, so it cannot be taken for an option.
    std::string program = "xdg-open";
    std::string argument = url;
    char* argv[] = {program.data(), argument.data(), nullptr};
    // Children are reaped by the system: the client does not wait for the browser.
    ::signal(SIGCHLD, SIG_IGN);
    pid_t pid;
    return ::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0;
}

} // namespace vokar::app
