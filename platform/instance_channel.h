#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace vokar::platform {

// One client per data directory: the running client listens on a Unix socket
// in its data directory, and a second start asks it there to come to the
// front instead of starting again.
class InstanceChannel {
public:
    // The socket's path in `data_dir` (which ends with '/').
    static std::string socket_path(const std::string& data_dir);

    // Listens on the data directory's socket; `on_raise` runs on the
    // channel's thread for every request, which is answered once it returns.
    // Throws std::runtime_error when the socket cannot be made.
    InstanceChannel(const std::string& data_dir, std::function<void()> on_raise);
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    // Asks the client running on `data_dir` to come to the front; true once it
    // answered within `limit`.
    static bool raise_running(const std::string& data_dir, std::chrono::milliseconds limit);

private:
    void serve();

    std::string path_;
    int listen_fd_ = -1;
    std::function<void()> on_raise_;
    std::thread thread_;
};

} // namespace vokar::platform
