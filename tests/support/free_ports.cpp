#include "tests/support/free_ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vokar::test {

std::vector<uint16_t> free_loopback_ports(size_t count, int socket_type)
{
    std::vector<int> held;
    std::vector<uint16_t> ports;
    for (size_t i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, socket_type | SOCK_CLOEXEC, 0);
        if (fd < 0)
            break;
        held.push_back(fd);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            break;
        ports.push_back(ntohs(address.sin_port));
    }
    for (int fd : held)
        ::close(fd);
    if (ports.size() != count)
        ports.clear();
    return ports;
}

} // namespace vokar::test
