#pragma once

#include <string>

namespace vokar::platform {

// The directory that holds the user's files ("__settings", "CallLog.txt"):
// $VOKAR_HOME if set, else $XDG_DATA_HOME/vokar, else ~/.local/share/vokar.
// It is created (owner-only) when missing. The result ends with '/', so a file
// name can be appended directly. Returns "" and fills *error when the
// directory cannot be made.
std::string data_directory(std::string* error = nullptr);

// Holds an exclusive lock on "<dir>.lock" while it lives: one client per data
// directory. Two clients with two data directories run side by side.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False (with *error set) when another process holds the lock or the lock
    // file cannot be opened.
    bool acquire(const std::string& directory, std::string* error = nullptr);
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace vokar::platform
