#include "account/server_list_answer.h"

namespace vokar {
namespace {

enum class Section { None, Sip, Xmpp, Web, Stun, Ping, Domain, Unknown };

} // namespace

ServerListAnswer ServerListAnswer::parse(std::string_view body)
{
    // Markers are tested in this order, anywhere in the line, so a line that
    // merely contains "-SIP" switches sections.
    static constexpr std::pair<std::string_view, Section> kMarkers[] = {
        {"-PHP", Section::Web},       {"-SIP", Section::Sip},      {"-JABBER", Section::Xmpp},
        {"-STUN", Section::Stun},     {"-ENDLIST", Section::None}, {"-PINGSERVER", Section::Ping},
        {"-DOMAIN", Section::Domain},
    };
    ServerListAnswer answer;
    Section section = Section::None;
    while (!body.empty()) {
        const auto nl = body.find('\n');
        const std::string_view line = body.substr(0, nl);
        body = nl == std::string_view::npos ? std::string_view{} : body.substr(nl + 1);
        if (line.empty())
            continue;
        bool marker = false;
        for (const auto& [text, next] : kMarkers) {
            if (line.find(text) != std::string_view::npos) {
                section = next;
                marker = true;
                break;
            }
        }
        if (marker)
            continue;
        if (line.front() == '-') {
            section = Section::Unknown;
            continue;
        }
        switch (section) {
        case Section::Sip:
            answer.lists[0].emplace_back(line);
            break;
        case Section::Xmpp:
            answer.lists[1].emplace_back(line);
            break;
        case Section::Web:
            answer.lists[2].emplace_back(line);
            break;
        case Section::Stun:
            answer.lists[3].emplace_back(line);
            break;
        case Section::Domain:
            answer.domain = std::string(line);
            break;
        case Section::Ping:
            answer.ping_servers.emplace_back(line);
            break;
        case Section::None:
        case Section::Unknown:
            break;
        }
    }
    return answer;
}

std::string ServerListAnswer::count_prefixed(size_t position) const
{
    const auto& lines = lists.at(position);
    std::string text = std::to_string(lines.size());
    for (const auto& line : lines) {
        text += '\n';
        text += line;
    }
    return text;
}

} // namespace vokar
