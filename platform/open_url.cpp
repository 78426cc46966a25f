#include "platform/open_url.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace vokar::platform {

bool open_url(const std::string& url)
{
    // A short-lived shell starts the opener in the background and exits, so
    // the opener is not our child: nothing is left to reap and no signal
    // disposition of the process changes. The address reaches the opener as
    // "$1", a single argument that the shell does not parse.
    std::string shell = "/bin/sh", flag = "-c", script = "xdg-open \"$1\" >/dev/null 2>&1 &",
                name = "open_url", argument = url;
    char* argv[] = {shell.data(), flag.data(),     script.data(),
                    name.data(),  argument.data(), nullptr};
    pid_t pid;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace vokar::platform
