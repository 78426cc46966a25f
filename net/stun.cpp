#include "net/stun.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/sockets.h"

namespace vokar {
namespace {

constexpr size_t kHeaderBytes = 20;
constexpr size_t kTransactionOffset = 4;
constexpr size_t kTransactionBytes = 16;
constexpr uint16_t kBindingRequest = 0x0001;
constexpr uint16_t kBindingResponse = 0x0101;
constexpr uint16_t kAttrMappedAddress = 0x0001;
constexpr uint8_t kFamilyIpv4 = 0x01;
constexpr size_t kMaxAnswerBytes = 1024;

uint16_t read16(std::string_view bytes, size_t at)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) |
                                 static_cast<uint8_t>(bytes[at + 1]));
}

std::string dotted(std::string_view four)
{
    std::string text;
    for (size_t i = 0; i < 4; ++i) {
        if (i)
            text += '.';
        text += std::to_string(static_cast<uint8_t>(four[i]));
    }
    return text;
}

} // namespace

std::string stun_binding_request()
{
    std::string request(kHeaderBytes, '\x07');
    request[0] = static_cast<char>(kBindingRequest >> 8);
    request[1] = static_cast<char>(kBindingRequest & 0xff);
    request[2] = 0;
    request[3] = 0;
    request[kTransactionOffset] = 0x05;
    return request;
}

std::optional<StunMapping> parse_stun_answer(std::string_view answer)
{
    if (answer.size() < kHeaderBytes || read16(answer, 0) != kBindingResponse)
        return std::nullopt;
    if (read16(answer, 2) != answer.size() - kHeaderBytes)
        return std::nullopt;
    static const std::string request = stun_binding_request();
    if (answer.substr(kTransactionOffset, kTransactionBytes) !=
        std::string_view(request).substr(kTransactionOffset, kTransactionBytes))
        return std::nullopt;

    size_t at = kHeaderBytes;
    while (answer.size() - at >= 4) {
        const uint16_t type = read16(answer, at);
        const size_t length = read16(answer, at + 2);
        at += 4;
        if (length > answer.size() - at)
            return std::nullopt;
        const std::string_view value = answer.substr(at, length);
        if (type == kAttrMappedAddress) {
            if (length < 8 || static_cast<uint8_t>(value[1]) != kFamilyIpv4)
                return std::nullopt;
            return StunMapping{dotted(value.substr(4, 4)), read16(value, 2)};
        }
        // Values are padded to a multiple of four bytes.
        const size_t padded = (length + 3) & ~size_t{3};
        at = padded > answer.size() - at ? answer.size() : at + padded;
    }
    return std::nullopt;
}

std::optional<StunMapping> stun_query(const std::string& local_address, uint16_t local_port,
                                      const std::string& host, uint16_t port, uint32_t limit_ms)
{
    UdpSocket socket(local_port, port, local_address, nullptr);
    if (!socket.open(host))
        return std::nullopt;
    const std::string request = stun_binding_request();
    if (!socket.send(request.data(), request.size())) {
        socket.close();
        return std::nullopt;
    }

    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;
    std::optional<StunMapping> result;
    // The receiver blocks in the socket; closing the socket ends it at the limit.
    std::thread receiver([&] {
        std::optional<StunMapping> mapping;
        std::string datagram;
        for (;;) {
            const int count = socket.receive(&datagram, kMaxAnswerBytes);
            if (count < 0 || !socket.is_open())
                break;
            if (count > 0 && (mapping = parse_stun_answer(datagram)))
                break;
        }
        std::lock_guard lock(mutex);
        result = std::move(mapping);
        done = true;
        done_changed.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        done_changed.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] { return done; });
    }
    socket.close();
    receiver.join();
    return result;
}

} // namespace vokar
