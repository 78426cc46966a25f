#include "xmpp/roster.h"

#include <algorithm>

namespace vokar {
namespace {

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string to_lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

} // namespace

std::string bare_jid(std::string_view jid)
{
    const auto slash = jid.find('/');
    return to_lower(slash == std::string_view::npos || slash == 0 ? jid : jid.substr(0, slash));
}

std::string jid_resource(std::string_view jid)
{
    const auto slash = jid.find('/');
    if (slash == std::string_view::npos || slash == 0)
        return {};
    return std::string(jid.substr(slash + 1));
}

int status_from_show(std::string_view show)
{
    const std::string s = to_lower(show);
    if (s == "pending")
        return kStatusPending;
    if (s == "away")
        return kStatusAway;
    if (s == "busy" || s == "dnd")
        return kStatusBusy;
    if (s == "offline" || s == "unavailable")
        return kStatusOffline;
    if (s == "requested")
        return kStatusRequested;
    return kStatusAvailable;
}

size_t RosterContact::update_resource(const std::string& name, int status, std::string text)
{
    const auto it = std::find_if(resources.begin(), resources.end(),
                                 [&](const ContactResource& r) { return r.name == name; });
    if (it != resources.end())
        resources.erase(it);
    const auto place = std::find_if(resources.begin(), resources.end(),
                                    [&](const ContactResource& r) { return r.status >= status; });
    const auto inserted = resources.insert(place, ContactResource{name, status, std::move(text)});
    return static_cast<size_t>(inserted - resources.begin());
}

bool RosterContact::remove_resource(const std::string& name)
{
    const auto it = std::find_if(resources.begin(), resources.end(),
                                 [&](const ContactResource& r) { return r.name == name; });
    if (it == resources.end())
        return false;
    resources.erase(it);
    return true;
}

RosterContact* Roster::find(std::string_view bare)
{
    const auto it = std::find_if(contacts_.begin(), contacts_.end(),
                                 [&](const RosterContact& c) { return c.jid == bare; });
    return it == contacts_.end() ? nullptr : &*it;
}

RosterContact& Roster::add(RosterContact contact)
{
    contacts_.push_back(std::move(contact));
    return contacts_.back();
}

void Roster::remove(std::string_view bare)
{
    std::erase_if(contacts_, [&](const RosterContact& c) { return c.jid == bare; });
}

} // namespace vokar
