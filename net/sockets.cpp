#include "net/sockets.h"

namespace vokar {
namespace {

// The address to bind: the given dotted address, any address when none is given.
uint32_t bind_address(const std::string& local_address)
{
    if (local_address.empty())
        return 0;
    return platform::parse_ipv4(local_address);
}

} // namespace

BasicSocket::BasicSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
                         SocketErrorCallback on_error)
    : local_port_(local_port), remote_port_(remote_port), local_address_(std::move(local_address)),
      on_error_(std::move(on_error))
{
}

void BasicSocket::report(int kind, int error) const
{
    if (on_error_)
        on_error_(kind, error);
}

uint32_t BasicSocket::resolve(const std::string& host, int* error)
{
    *error = platform::kWsaOk;
    const uint32_t address = platform::resolve_host(host, error);
    if (address == platform::kAddressNone && *error == platform::kWsaOk)
        *error = platform::kWsaHostNotFound;
    return address;
}

int BasicSocket::receive_into(std::string* out, size_t maximum)
{
    out->resize(maximum);
    size_t got = 0;
    const int error = socket_.receive(out->data(), maximum, &got);
    out->resize(error == platform::kWsaOk ? got : 0);
    return error;
}

TcpSocket::TcpSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
                     SocketErrorCallback on_error)
    : BasicSocket(local_port, remote_port, std::move(local_address), std::move(on_error))
{
}

bool TcpSocket::connect(const std::string& host)
{
    int error = platform::kWsaOk;
    const uint32_t address = resolve(host, &error);
    if (address == platform::kAddressNone) {
        report(kSocketErrorConnect, error);
        return false;
    }
    error = socket_.open(platform::Socket::Type::Tcp);
    if (error == platform::kWsaOk && !closing_)
        error = socket_.connect(address, remote_port_, 21000, &closing_);
    if (error == platform::kWsaOk && closing_)
        error = platform::kWsaEconnaborted;
    if (error != platform::kWsaOk) {
        report(kSocketErrorConnect, error);
        socket_.shutdown();
        return false;
    }
    connected_ = true;
    return true;
}

bool TcpSocket::send(const void* data, size_t length)
{
    if (!connected_)
        return false;
    size_t sent = 0;
    const int error = socket_.send(data, length, &sent);
    if (error != platform::kWsaOk || sent != length) {
        connected_ = false;
        socket_.shutdown();
        report(kSocketErrorSend, error ? error : platform::kWsaEconnreset);
        return false;
    }
    return true;
}

int TcpSocket::receive(std::string* out, size_t maximum)
{
    if (!connected_)
        return -1;
    const int error = receive_into(out, maximum);
    if (error != platform::kWsaOk || out->empty()) {
        const bool deliberate = closing_.load();
        connected_ = false;
        socket_.shutdown();
        // A close from another thread ends the receive; that is no failure.
        if (!deliberate)
            report(kSocketErrorReceive, error ? error : platform::kWsaEconnreset);
        return error ? -1 : 0;
    }
    return static_cast<int>(out->size());
}

void TcpSocket::close()
{
    closing_ = true;
    connected_ = false;
    socket_.shutdown();
}

UdpSocket::UdpSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
                     SocketErrorCallback on_error)
    : BasicSocket(local_port, remote_port, std::move(local_address), std::move(on_error))
{
}

bool UdpSocket::open(const std::string& host)
{
    int error = platform::kWsaOk;
    const uint32_t remote = resolve(host, &error);
    const uint32_t local = bind_address(local_address_);
    if (remote != platform::kAddressNone && local == platform::kAddressNone)
        error = platform::kWsaEaddrnotavail;
    if (error == platform::kWsaOk)
        error = socket_.open(platform::Socket::Type::Udp);
    // Closed from another thread meanwhile: it saw no socket to shut down.
    if (error == platform::kWsaOk && closing_)
        error = platform::kWsaEconnaborted;
    if (error == platform::kWsaOk)
        error = socket_.bind(local, local_port_);
    if (error == platform::kWsaOk)
        error = socket_.connect(remote, remote_port_);
    if (error != platform::kWsaOk) {
        last_result_ = error;
        report(kSocketErrorConnect, error);
        socket_.close();
        return false;
    }
    open_ = true;
    return true;
}

bool UdpSocket::send(const void* data, size_t length)
{
    if (!open_)
        return false;
    size_t sent = 0;
    const int error = socket_.send(data, length, &sent);
    last_result_ = error;
    if (error != platform::kWsaOk || sent < length) {
        report(kSocketErrorSend, error ? error : platform::kWsaEmsgsize);
        return false;
    }
    return true;
}

int UdpSocket::receive(std::string* out, size_t maximum)
{
    if (!open_)
        return -1;
    ++receive_count_;
    const int error = receive_into(out, maximum);
    last_result_ = error;
    if (error != platform::kWsaOk || out->empty()) {
        if (!closing_)
            report(kSocketErrorReceive, error);
        return error ? -1 : 0;
    }
    return static_cast<int>(out->size());
}

void UdpSocket::close()
{
    closing_ = true;
    open_ = false;
    socket_.shutdown();
}

} // namespace vokar
