#include "net/stun.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "loopback_peer.h"

namespace vokar {
namespace {

std::string attribute(uint16_t type, const std::string& value)
{
    std::string a;
    a += static_cast<char>(type >> 8);
    a += static_cast<char>(type & 0xff);
    a += static_cast<char>(value.size() >> 8);
    a += static_cast<char>(value.size() & 0xff);
    return a + value;
}

// An IPv4 address attribute value: reserved, family 1, port, address.
std::string address_value(uint16_t port, uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    const std::string four{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                           static_cast<char>(d)};
    return std::string("\x00\x01", 2) + static_cast<char>(port >> 8) +
           static_cast<char>(port & 0xff) + four;
}

std::string answer(const std::string& attributes, std::string tid = {})
{
    if (tid.empty())
        tid = stun_binding_request().substr(4);
    std::string a("\x01\x01", 2);
    a += static_cast<char>(attributes.size() >> 8);
    a += static_cast<char>(attributes.size() & 0xff);
    return a + tid + attributes;
}

const std::string kMapped = attribute(0x0001, address_value(40000, 0xc0, 0xa8, 0x01, 0x02));

// Like stund: MAPPED-ADDRESS first, then SOURCE-, CHANGED-ADDRESS and more (88 bytes).
std::string stund_answer()
{
    return answer(kMapped + attribute(0x0004, address_value(3478, 0x7f, 0x00, 0x00, 0x01)) +
                  attribute(0x0005, address_value(3479, 0x7f, 0x00, 0x00, 0x02)) +
                  attribute(0x8020, address_value(40000, 0xc1, 0xa8, 0x01, 0x02)) +
                  attribute(0x8022, std::string(16, 's')));
}

// Like coturn: another order, with an unpadded SOFTWARE value (84 bytes).
std::string coturn_answer()
{
    return answer(attribute(0x0020, address_value(1, 0x01, 0x02, 0x03, 0x04)) +
                  attribute(0x8022, std::string(11, 's')) + std::string(1, '\0') +
                  attribute(0x802b, address_value(3478, 0x7f, 0x00, 0x00, 0x01)) + kMapped +
                  attribute(0x802c, address_value(3479, 0x7f, 0x00, 0x00, 0x02)));
}

TEST(Stun, RequestIsTheClassicBindingRequest)
{
    const std::string expected = std::string("\x00\x01\x00\x00\x05", 5) + std::string(15, '\x07');
    EXPECT_EQ(stun_binding_request(), expected);
}

TEST(Stun, ParsesAnswersOfEitherServerByAttributeType)
{
    ASSERT_EQ(stund_answer().size(), 88u);
    ASSERT_EQ(coturn_answer().size(), 84u);
    for (const std::string& a : {stund_answer(), coturn_answer()}) {
        const auto mapping = parse_stun_answer(a);
        ASSERT_TRUE(mapping);
        EXPECT_EQ(mapping->address, "192.168.1.2");
        EXPECT_EQ(mapping->port, 40000);
    }
}

TEST(Stun, RejectsMalformedAnswers)
{
    const std::string good = stund_answer();
    std::string wrong_type = good;
    wrong_type[1] = 0x11;
    std::string wrong_tid = good;
    wrong_tid[19] = 0x08; // only the last byte differs
    std::string wrong_family = answer(
        attribute(0x0001, std::string("\x00\x02", 2) + "\x9c\x40" + std::string(16, '\x01')));
    // An attribute whose length runs past the end of the message.
    std::string truncated = answer(kMapped.substr(0, 4) + kMapped.substr(4, 6));
    // Attributes without MAPPED-ADDRESS.
    std::string without = answer(attribute(0x0004, address_value(3478, 0x7f, 0x00, 0x00, 0x01)));
    for (const std::string& a : {wrong_type, wrong_tid, wrong_family, truncated, without,
                                 good.substr(0, 87), good + "abcd", good.substr(0, 19)})
        EXPECT_FALSE(parse_stun_answer(a)) << a.size();
}

TEST(Stun, QueryIgnoresStrayDatagramsAndReturnsTheMapping)
{
    test::UdpPeer server;
    std::thread peer([&] {
        EXPECT_EQ(server.receive(), stun_binding_request());
        server.reply(answer(kMapped, std::string(16, '\x09')));
        server.reply(coturn_answer());
    });
    const auto mapping = stun_query("127.0.0.1", 0, "127.0.0.1", server.port(), 5000);
    peer.join();
    ASSERT_TRUE(mapping);
    EXPECT_EQ(mapping->address, "192.168.1.2");
    EXPECT_EQ(mapping->port, 40000);
}

TEST(Stun, QueryWithoutAnswerGivesUpAtTheLimit)
{
    test::UdpPeer server;
    std::thread peer([&] { EXPECT_EQ(server.receive(), stun_binding_request()); });
    EXPECT_FALSE(stun_query("127.0.0.1", 0, "127.0.0.1", server.port(), 200));
    peer.join();
}

} // namespace
} // namespace vokar
