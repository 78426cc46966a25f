#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vokar::platform {

// An unconnected UDP socket that sends to and receives from any IPv4 peer.
// It never sets SO_REUSEADDR, so a port already in use fails the bind instead
// of being shared. Every operation returns kWsaOk or a Winsock number.
class DatagramSocket {
public:
    DatagramSocket() = default;
    ~DatagramSocket();
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    // Creates the socket and binds it (addresses in network order; port 0 lets
    // the system choose).
    int open(uint32_t address, uint16_t port);
    int send_to(uint32_t address, uint16_t port, const void* data, size_t length);
    // Blocks for one datagram of at most `maximum` bytes (longer ones are cut)
    // and its source. Fails once shutdown() was called.
    int receive_from(void* buffer, size_t maximum, size_t* received, uint32_t* address,
                     uint16_t* port);
    uint16_t local_port() const;
    // Ends a receive blocked on another thread; every later call fails.
    void shutdown();
    // Releases the descriptor; only once no other thread is inside a call.
    void close();

private:
    std::atomic<int> fd_{-1};
    std::atomic<bool> shut_{false};
};

} // namespace vokar::platform
