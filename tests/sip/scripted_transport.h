#pragma once

// SIP texts for a test that plays the server behind a ScriptedConnection:
// it reads the stack's requests and builds the answers from them.

#include <string>

#include "tests/support/scripted_connection.h"

namespace vokar::test {

// The value of the first `name` header of a SIP text, or empty.
inline std::string header(const std::string& text, const std::string& name)
{
    const std::string key = "\r\n" + name + ": ";
    const size_t at = text.find(key);
    if (at == std::string::npos)
        return {};
    const size_t start = at + key.size();
    return text.substr(start, text.find("\r\n", start) - start);
}

inline std::string first_line(const std::string& text)
{
    return text.substr(0, text.find("\r\n"));
}

// The server's answer to `request`: its Via, From, To (with `to_tag`),
// Call-ID and CSeq, then `extra` header lines and the body.
inline std::string reply(const std::string& request, int status, const std::string& reason,
                         const std::string& extra = {}, const std::string& body = {},
                         const std::string& to_tag = "srv1")
{
    std::string to = header(request, "To");
    if (!to_tag.empty() && to.find(";tag=") == std::string::npos)
        to += ";tag=" + to_tag;
    std::string out = "SIP/2.0 " + std::to_string(status) + " " + reason + "\r\n";
    out += "Via: " + header(request, "Via") + "\r\n";
    out += "From: " + header(request, "From") + "\r\n";
    out += "To: " + to + "\r\n";
    out += "Call-ID: " + header(request, "Call-ID") + "\r\n";
    out += "CSeq: " + header(request, "CSeq") + "\r\n";
    out += extra;
    if (!body.empty())
        out += "Content-Type: application/sdp\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return out;
}

} // namespace vokar::test
