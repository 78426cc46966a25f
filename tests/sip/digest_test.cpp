#include "sip/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace vokar {
namespace {

TEST(SipDigest, CredentialsValueByteForByte)
{
    DigestChallenge c{"sip.example.net", "6931f2a8", kWwwAuthenticate,
                      "4915112345678",   "secret",   "sip:sip.example.net",
                      "REGISTER"};
    const std::string head = "Digest username=\"4915112345678\",realm=\"sip.example.net\","
                             "nonce=\"6931f2a8\",uri=\"sip:sip.example.net\",response=\"";
    const std::string tail = "\",algorithm=MD5,opaque=\"\"";
    EXPECT_EQ(credentials_value(c), head + "a63b4931a05a625c0ca443abefab9d15" + tail);
    c.method = "INVITE";
    EXPECT_EQ(credentials_value(c), head + "40302b3ee035f02ba585ba8d50e677e6" + tail);
    c.method = "REGISTER";
    c.realm.clear();
    EXPECT_EQ(credentials_value(c), "Digest username=\"4915112345678\",realm=\"\","
                                    "nonce=\"6931f2a8\",uri=\"sip:sip.example.net\",response=\""
                                    "99470feecfaebb4517933817e03b0bd6" +
                                        tail);
    EXPECT_EQ(authorization_header_name(kWwwAuthenticate), "Authorization");
    EXPECT_EQ(authorization_header_name(kProxyAuthenticate), "Proxy-Authorization");
    EXPECT_EQ(authorization_header_name("Other"), "");
}

} // namespace
} // namespace vokar
