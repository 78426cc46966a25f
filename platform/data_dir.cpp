#include "platform/data_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vokar::platform {
namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

void set_error(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

// mkdir -p with mode 0700 for every directory it creates.
bool make_directories(const std::string& path, std::string* error)
{
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            set_error(error, "cannot create " + part + ": " + std::strerror(errno));
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        set_error(error, path + " is not a directory");
        return false;
    }
    return true;
}

} // namespace

std::string data_directory(std::string* error)
{
    std::string dir = env("VOKAR_HOME");
    if (dir.empty()) {
        std::string base = env("XDG_DATA_HOME");
        if (base.empty()) {
            const std::string home = env("HOME");
            if (home.empty()) {
                set_error(error, "neither VOKAR_HOME, XDG_DATA_HOME nor HOME is set");
                return {};
            }
            base = home + "/.local/share";
        }
        dir = base + "/vokar";
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (!make_directories(dir, error))
        return {};
    return dir + "/";
}

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool InstanceLock::acquire(const std::string& directory, std::string* error)
{
    if (fd_ >= 0)
        return true;
    std::string path = directory;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        set_error(error, "cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        set_error(error, "another Vokar is already running with data directory " + directory);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

} // namespace vokar::platform
