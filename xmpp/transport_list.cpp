#include "xmpp/transport_list.h"

#include "xmpp/jabber_event.h"

namespace vokar {

TransportList::TransportList(std::string_view domain)
{
    const std::pair<const char*, int> kTransports[] = {
        {"msn.", kNetworkMsn},           {"yahoo.", kNetworkYahoo}, {"icq.", kNetworkIcq},
        {"aim.", kNetworkAim},           {"gtalk.", kNetworkGtalk}, {"skype.", kNetworkSkype},
        {"facebook.", kNetworkFacebook}, {"qq.", kNetworkQq},       {"gadugadu.", kNetworkGaduGadu},
    };
    for (const auto& [prefix, network] : kTransports)
        entries_.push_back({prefix + std::string(domain), network, false});
}

int TransportList::network_of(std::string_view jid) const
{
    for (const auto& e : entries_)
        if (e.jid == jid)
            return e.network;
    return -1;
}

std::string TransportList::jid_of(int network) const
{
    for (const auto& e : entries_)
        if (e.network == network)
            return e.jid;
    return {};
}

bool TransportList::registered(int network) const
{
    for (const auto& e : entries_)
        if (e.network == network)
            return e.registered;
    return false;
}

int TransportList::mark_registered(std::string_view jid)
{
    for (auto& e : entries_) {
        if (e.jid == jid && !e.registered) {
            e.registered = true;
            return e.network;
        }
    }
    return -1;
}

void TransportList::clear_registered(int network)
{
    for (auto& e : entries_)
        if (e.network == network)
            e.registered = false;
}

} // namespace vokar
