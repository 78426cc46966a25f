#pragma once

// A raw XMPP client for the XMPP service's tests: it opens a stream and
// authenticates with DIGEST-MD5 byte by byte, so the tests see exactly what
// the server sends.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tests/operator/peer.h"

namespace vokar::test {

class XmppLogin {
public:
    enum class Result { success, refused, broken };

    // Connects to 127.0.0.1:port; valid() is false when refused.
    explicit XmppLogin(uint16_t port);
    bool valid() const { return socket_.valid(); }
    int fd() const { return socket_.fd(); }

    // Sends the stream header to `domain`; the server's header and features.
    std::string open_stream(std::string_view domain);
    // DIGEST-MD5 from <auth/> to <success/> or <failure/>; last_element()
    // is then that final element, exactly as received.
    Result digest_md5(std::string_view user, std::string_view password, std::string_view domain);
    const std::string& last_element() const { return last_; }
    // The decoded first challenge.
    const std::string& challenge() const { return challenge_; }

private:
    // Reads until `marker` has arrived; what came before and including it.
    std::optional<std::string> read_through(std::string_view marker);
    // Reads one complete top-level element of the SASL exchange.
    std::optional<std::string> read_sasl_element();

    Socket socket_;
    std::string buffer_;
    std::string last_;
    std::string challenge_;
};

// One call: a fresh connection, stream and DIGEST-MD5.
XmppLogin::Result log_in(uint16_t port, std::string_view domain, std::string_view user,
                         std::string_view password);

} // namespace vokar::test
