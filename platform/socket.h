#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vokar::platform {

// Socket failures are reported with the classic Winsock numbers, because the
// reconnect logic branches on them.
enum WinsockError : int {
    kWsaOk = 0,
    kWsaEintr = 10004,
    kWsaEbadf = 10009,
    kWsaEacces = 10013,
    kWsaEfault = 10014,
    kWsaEinval = 10022,
    kWsaEmfile = 10024,
    kWsaEwouldblock = 10035,
    kWsaEinprogress = 10036,
    kWsaEalready = 10037,
    kWsaEnotsock = 10038,
    kWsaEdestaddrreq = 10039,
    kWsaEmsgsize = 10040,
    kWsaEprotonosupport = 10043,
    kWsaEopnotsupp = 10045,
    kWsaEafnosupport = 10047,
    kWsaEaddrinuse = 10048,
    kWsaEaddrnotavail = 10049,
    kWsaEnetdown = 10050,
    kWsaEnetunreach = 10051,
    kWsaEnetreset = 10052,
    kWsaEconnaborted = 10053,
    kWsaEconnreset = 10054,
    kWsaEnobufs = 10055,
    kWsaEisconn = 10056,
    kWsaEnotconn = 10057,
    kWsaEshutdown = 10058,
    kWsaEtimedout = 10060,
    kWsaEconnrefused = 10061,
    kWsaEhostdown = 10064,
    kWsaEhostunreach = 10065,
    kWsaHostNotFound = 11001,
    kWsaTryAgain = 11002,
    kWsaNoRecovery = 11003,
    kWsaNoData = 11004,
};

// The Winsock number for a POSIX errno value.
int winsock_error_from_errno(int error);

constexpr uint32_t kAddressNone = 0xFFFFFFFFu; // INADDR_NONE, network order

// A dotted IPv4 address in network order, or kAddressNone (never looks up a name).
uint32_t parse_ipv4(const std::string& text);
// A dotted address or a host name, in network order: a dotted address is never
// looked up; a name that does not resolve gives kAddressNone and *error =
// kWsaHostNotFound (or another 1100x number). Names under the reserved
// domain "invalid" are not found without a query.
uint32_t resolve_host(const std::string& host, int* error = nullptr);
std::string format_ipv4(uint32_t address);

// A blocking IPv4 socket. Every operation returns kWsaOk or a Winsock number.
// shutdown() may be called from another thread to end a blocked connect or
// receive; the descriptor itself is released only by close() or the
// destructor, once no other thread can be inside an operation.
class Socket {
public:
    enum class Type { Tcp, Udp };

    Socket() = default;
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int open(Type type);
    bool is_open() const { return fd_ >= 0; }
    // Port 0 lets the system choose.
    int bind(uint32_t address, uint16_t port);
    // Blocks until connected, refused, timeout_ms passed (kWsaEtimedout), or
    // *cancel became true (kWsaEconnaborted; checked every 100 ms).
    int connect(uint32_t address, uint16_t port, uint32_t timeout_ms = 21000,
                const std::atomic<bool>* cancel = nullptr);
    // Sends everything (TCP) or one datagram (UDP); *sent says how much went out.
    int send(const void* data, size_t length, size_t* sent);
    // One receive of at most `maximum` bytes; *received = 0 means the peer
    // closed (TCP) or an empty datagram arrived (UDP). A datagram longer than
    // `maximum` is cut.
    int receive(void* buffer, size_t maximum, size_t* received);
    // Waits up to timeout_ms for data (or a close) to read: 1 when readable,
    // 0 on time-out, a negative value when the socket is unusable.
    int wait_readable(uint32_t timeout_ms);
    // True when `length` bytes can be sent now without waiting: the socket is
    // writable and, for TCP, its send buffer has room for them.
    bool can_send_now(size_t length);
    // The locally bound port, 0 when unknown.
    uint16_t local_port() const;
    // Ends blocked operations on other threads; the socket then fails every call.
    void shutdown();
    void close();

private:
    // Atomic: shutdown() reads it on another thread while open() may set it.
    std::atomic<int> fd_{-1};
    Type type_ = Type::Tcp;
};

} // namespace vokar::platform
