#include "tools/operator/services/http_request.h"

#include <vector>

namespace vokar::operatord {
namespace {

bool is_token_char(unsigned char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool is_token(std::string_view text)
{
    if (text.empty())
        return false;
    for (unsigned char c : text)
        if (!is_token_char(c))
            return false;
    return true;
}

bool is_control(unsigned char c)
{
    return c < 0x20 || c == 0x7f;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> percent_decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hex_value(text[i + 1]);
        const int low = hex_value(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// The head's lines without their line ends, leading empty lines skipped.
std::vector<std::string_view> head_lines(std::string_view head)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find('\n', start);
        if (end == std::string_view::npos)
            end = head.size();
        std::string_view line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        start = end + 1;
        if (line.empty()) {
            if (lines.empty())
                continue;
            break;
        }
        lines.push_back(line);
    }
    return lines;
}

std::string_view reason_phrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 500:
        return "Internal Server Error";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

} // namespace

size_t RequestHeadScanner::scan(std::string_view received)
{
    if (length_)
        return length_;
    for (; scanned_ < received.size(); ++scanned_) {
        if (received[scanned_] != '\n')
            continue;
        std::string_view line = received.substr(line_start_, scanned_ - line_start_);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line_start_ = scanned_ + 1;
        if (!line.empty()) {
            seen_line_ = true;
        } else if (seen_line_) {
            length_ = scanned_ + 1;
            return length_;
        }
    }
    return 0;
}

std::optional<HttpRequest> parse_request_head(std::string_view head, int* status)
{
    const auto fail = [&](int code) {
        *status = code;
        return std::nullopt;
    };
    const auto lines = head_lines(head);
    if (lines.empty())
        return fail(400);

    // METHOD SP target SP HTTP/x.y, single spaces.
    const std::string_view request_line = lines[0];
    const size_t first = request_line.find(' ');
    const size_t second =
        first == std::string_view::npos ? first : request_line.find(' ', first + 1);
    if (second == std::string_view::npos ||
        request_line.find(' ', second + 1) != std::string_view::npos)
        return fail(400);
    const std::string_view method = request_line.substr(0, first);
    const std::string_view target = request_line.substr(first + 1, second - first - 1);
    const std::string_view version = request_line.substr(second + 1);
    if (!is_token(method) || target.empty() || target.front() != '/')
        return fail(400);
    for (unsigned char c : target)
        if (is_control(c) || c == ' ')
            return fail(400);
    const bool version_form = version.size() == 8 && version.starts_with("HTTP/") &&
                              version[5] >= '0' && version[5] <= '9' && version[6] == '.' &&
                              version[7] >= '0' && version[7] <= '9';
    if (!version_form)
        return fail(400);
    if (version != "HTTP/1.0" && version != "HTTP/1.1")
        return fail(505);

    // Header lines are checked for form only; none changes the answer.
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || !is_token(line.substr(0, colon)))
            return fail(400); // also a folded continuation line
        for (unsigned char c : line.substr(colon + 1))
            if (is_control(c) && c != '\t')
                return fail(400);
    }

    HttpRequest request;
    request.method = std::string(method);
    const size_t question = target.find('?');
    request.path = std::string(target.substr(0, question));
    if (question != std::string_view::npos)
        request.query = std::string(target.substr(question + 1));
    request.minor_version = version[7] - '0';
    return request;
}

std::optional<QueryParameters> decode_query(std::string_view query)
{
    QueryParameters parameters;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
        if (piece.empty())
            continue;
        const size_t eq = piece.find('=');
        auto key = percent_decode(piece.substr(0, eq));
        auto value = percent_decode(eq == std::string_view::npos ? std::string_view()
                                                                 : piece.substr(eq + 1));
        if (!key || !value)
            return std::nullopt;
        if (!parameters.emplace(std::move(*key), std::move(*value)).second)
            return std::nullopt;
    }
    return parameters;
}

std::string http_answer(int status, std::string_view body, std::string_view extra_headers)
{
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " ";
    answer += reason_phrase(status);
    answer += "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: ";
    answer += std::to_string(body.size());
    answer += "\r\nConnection: close\r\n";
    answer += extra_headers;
    answer += "\r\n";
    answer += body;
    return answer;
}

} // namespace vokar::operatord
