#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vokar::operatord {

// The parts of HTTP/1.x the account web service needs: the head of a GET
// request, its query, and complete answers that close the connection.

// A request head may take this many bytes, blank line included.
inline constexpr size_t kMaxRequestHead = 8 * 1024;

// Finds where a request head ends in bytes that arrive piece by piece: at
// the first empty line ("\r\n" or a bare "\n") after a non-empty one (empty
// lines before the request line are skipped, as HTTP asks). Each byte is
// examined once, however the head is split.
class RequestHeadScanner {
public:
    // `received` is everything received so far (it only grows). Returns the
    // head's length, blank line included, once it is complete; else 0.
    size_t scan(std::string_view received);

private:
    size_t line_start_ = 0;
    size_t scanned_ = 0;
    bool seen_line_ = false;
    size_t length_ = 0;
};

struct HttpRequest {
    std::string method;
    std::string path;      // the target before '?', as sent
    std::string query;     // the target after '?', still encoded; empty when none
    int minor_version = 1; // HTTP/1.0 or HTTP/1.1
    std::string source;    // the client's address, filled in by the server
};

// Parses a complete head: "METHOD /target HTTP/1.x", then "Name: value"
// lines. nullopt with *status set to the answer's status code when it is
// not a request this server can read (400, or 505 for another HTTP version).
std::optional<HttpRequest> parse_request_head(std::string_view head, int* status);

using QueryParameters = std::map<std::string, std::string, std::less<>>;

// The parameters of a query string, keys and values %XX-decoded. A "+"
// stays a "+": the client encodes a space as %20 and sends some values (a
// second leading "+" of a number) unencoded. Empty pieces are skipped; a
// piece without "=" has an empty value. nullopt for a broken escape or a
// key given twice (which value was meant is unknowable).
std::optional<QueryParameters> decode_query(std::string_view query);

// A complete answer with Content-Length, after which the server closes the
// connection.
std::string http_answer(int status, std::string_view body, std::string_view extra_headers = {});

} // namespace vokar::operatord
