#include "xmpp/gateway_handler.h"

#include "base/scan_string.h"
#include "xmpp/roster.h"

namespace vokar {

GatewayHandler::GatewayHandler(SessionContext& session, PresenceHandler& presence,
                               std::string_view service_domain)
    : session_(session), presence_(presence), transports_(service_domain)
{
}

int GatewayHandler::network_of(std::string_view jid) const
{
    std::lock_guard lock(mutex_);
    return transports_.network_of(jid);
}

std::vector<std::string> GatewayHandler::registered_jids() const
{
    std::vector<std::string> jids;
    std::lock_guard lock(mutex_);
    for (const auto& t : transports_.entries())
        if (t.registered)
            jids.push_back(t.jid);
    return jids;
}

bool GatewayHandler::registered(int network) const
{
    std::lock_guard lock(mutex_);
    return transports_.registered(network);
}

std::string GatewayHandler::jid_of(int network) const
{
    std::lock_guard lock(mutex_);
    return transports_.jid_of(network);
}

std::unique_ptr<XmlNode> GatewayHandler::register_iq(const std::string& transport)
{
    auto iq = session_.new_iq({{"to", transport}, {"type", "set"}});
    iq->add_child("query")->add_attribute("xmlns", "jabber:iq:register");
    return iq;
}

void GatewayHandler::register_user(int network, const std::string& user,
                                   const std::string& password)
{
    const std::string transport = jid_of(network);
    if (transport.empty())
        return;
    auto iq = register_iq(transport);
    XmlNode* q = iq->find_element("query");
    q->add_child("password")->text = password;
    q->add_child("username")->text = user;
    q->add_child("x")->add_attribute("xmlns", "jabber:iq:gateway:register");
    session_.send_request(*iq, [this, transport](const XmlNode& answer) {
        // An error answer registers nothing; an answer from anyone but the
        // transport asked neither.
        const std::string* from = answer.attribute_value("from");
        if (!from || bare_jid(*from) != transport || attribute_or_empty(answer, "type") == "error")
            return;
        presence_.send_presence(transport);
        mark_registered(transport);
    });
}

void GatewayHandler::unregister_user(int network)
{
    const std::string transport = jid_of(network);
    if (transport.empty())
        return;
    auto iq = register_iq(transport);
    iq->find_element("query")->add_child("remove");
    session_.send_request(*iq, nullptr);
    std::lock_guard lock(mutex_);
    transports_.clear_registered(network);
}

void GatewayHandler::translate(int network, const std::string& legacy_address)
{
    const std::string transport = jid_of(network);
    if (transport.empty())
        return;
    auto iq = session_.new_iq({{"type", "set"}, {"to", transport}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:gateway");
    q->add_child("prompt")->text = legacy_address;
    session_.send_request(*iq, [this, transport, legacy_address](const XmlNode& answer) {
        const XmlNode* jid_element = answer.find_element("jid");
        std::string jid;
        // No usable answer: build the gateway JID ourselves.
        if (!jid_element || jid_element->text == "null")
            jid = ScanString(legacy_address).replace_all("@", "\\40").str() + "@" + transport;
        else
            jid = jid_element->text;
        const auto escape = jid.find("\\40");
        presence_.plain_add(jid, escape == std::string::npos ? jid : jid.substr(0, escape), "");
    });
}

void GatewayHandler::mark_registered(const std::string& jid)
{
    int network;
    {
        std::lock_guard lock(mutex_);
        network = transports_.mark_registered(jid);
    }
    if (network == -1)
        return;
    presence_.send_presence(jid);
    JabberEvent event;
    event.network = network;
    session_.raise(kEventTransport, &event);
}

void GatewayHandler::discover()
{
    auto iq = session_.new_iq({{"to", session_.domain()}, {"type", "get"}});
    iq->add_child("query")->add_attribute("xmlns", kDiscoItems);
    session_.send_request(*iq, [this](const XmlNode& answer) { on_disco_items(answer); });
}

void GatewayHandler::on_disco_items(const XmlNode& answer)
{
    const XmlNode* query = answer.find_element("query");
    if (!query)
        return;
    for (const auto& item : query->children) {
        if (attribute_or_empty(*item, "name").find("Transport") == std::string::npos)
            continue;
        XmlNode iq("iq");
        iq.add_attribute("id", session_.next_id());
        if (const std::string* jid = item->attribute_value("jid"))
            iq.add_attribute("to", *jid);
        iq.add_attribute("type", "get");
        iq.add_child("query")->add_attribute("xmlns", kDiscoInfo);
        session_.send_request(iq, [this](const XmlNode& info) { on_disco_info(info); });
    }
}

void GatewayHandler::on_disco_info(const XmlNode& answer)
{
    const XmlNode* query = answer.find_element("query");
    const std::string* type = answer.attribute_value("type");
    if (!query || !type)
        return;
    if (*type == "error") {
        JabberEvent empty;
        session_.raise(kEventCallImpossible, &empty);
        return;
    }
    if (*type != "result")
        return;
    bool jingle = false, rtp = false, registered = false;
    for (const auto& feature : query->children) {
        if (feature->name != "feature")
            continue;
        const std::string var = attribute_or_empty(*feature, "var");
        jingle = jingle || var.find("xep-0166.html") != std::string::npos;
        rtp = rtp || var.find("xep-0167.html") != std::string::npos;
        registered = registered || var.find("jabber:iq:registered") != std::string::npos;
    }
    const std::string from = attribute_or_empty(answer, "from");
    if (from.find('@') != std::string::npos)
        session_.raise(jingle && rtp ? kEventJingleSupported : kEventCallImpossible, nullptr);
    else if (registered)
        mark_registered(from);
}

} // namespace vokar
