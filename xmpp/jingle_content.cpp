#include "xmpp/jingle_content.h"

#include <cstdio>

#include "base/random.h"
#include "base/scan_string.h"

namespace vokar {

std::string jingle_ns::xep_link(int number)
{
    char text[64];
    std::snprintf(text, sizeof text, "http://www.xmpp.org/extensions/xep-%04d.html#ns", number);
    return text;
}

namespace {

constexpr std::string_view kPasswordAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789+/";

std::string random_text(size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += kPasswordAlphabet[random_number() % kPasswordAlphabet.size()];
    return text;
}

int32_t int_attribute(const XmlNode& node, std::string_view name, int32_t absent)
{
    const std::string* value = node.attribute_value(name);
    return value ? ScanString(std::string_view(*value)).to_int() : absent;
}

void string_attribute(const XmlNode& node, std::string_view name, std::string& target)
{
    if (const std::string* value = node.attribute_value(name))
        target = *value;
}

std::string xmlns_of(const XmlNode* node)
{
    const std::string* value = node ? node->attribute_value("xmlns") : nullptr;
    return value ? *value : std::string();
}

bool is_audio(const std::string& ns)
{
    return ns == jingle_ns::kAudioRtp || ns == jingle_ns::xep_link(167);
}

bool is_file_transfer(const std::string& ns)
{
    return ns == jingle_ns::kFileTransfer || ns == jingle_ns::xep_link(234);
}

// The description's payload types, the name and profile, and what the
// transport element gives a transport of the content's kind.
void read_common(const XmlNode& node, const XmlNode* description, const XmlNode* transport,
                 bool offer, JingleContent& content)
{
    string_attribute(node, "name", content.name);
    string_attribute(node, "profile", content.profile);
    content.payload_types.clear();
    if (description) {
        for (const auto& child : description->children) {
            if (child->name != "payload-type")
                continue;
            PayloadType p;
            p.id = int_attribute(*child, "id", 0);
            string_attribute(*child, "name", p.name);
            p.clockrate = int_attribute(*child, "clockrate", p.clockrate);
            p.channels = int_attribute(*child, "channels", p.channels);
            p.maxptime = int_attribute(*child, "maxptime", p.maxptime);
            p.ptime = int_attribute(*child, "ptime", p.ptime);
            content.payload_types.push_back(std::move(p));
        }
    }
    if (!transport)
        return;
    if (content.transport_kind == kTransportAddress) {
        for (const auto& child : transport->children) {
            const std::string* ip = child->attribute_value("ip");
            const std::string* name = child->attribute_value("name");
            if (child->name != "address" || !ip || !name || !child->attribute_value("port"))
                continue;
            content.addresses.push_back({*ip, *name, int_attribute(*child, "port", 0)});
        }
    } else if (offer) {
        string_attribute(*transport, "pwd", content.ice.pwd);
        string_attribute(*transport, "ufrag", content.ice.ufrag);
    }
}

} // namespace

IceUdpTransport IceUdpTransport::create()
{
    IceUdpTransport t;
    t.pwd = random_text(22);
    t.ufrag = random_text(4);
    return t;
}

JingleContent new_local_content(int kind, const std::vector<PayloadType>& codecs)
{
    JingleContent content;
    content.name = "audio";
    content.profile = "RTP/AVP";
    content.payload_types = codecs;
    content.transport_kind = kind;
    if (kind == kTransportIceUdp)
        content.ice = IceUdpTransport::create();
    return content;
}

void write_payload_type(XmlNode& parent, const PayloadType& p)
{
    XmlNode* node = parent.add_child("payload-type");
    node->add_attribute("id", std::to_string(p.id));
    node->add_attribute("name", p.name);
    if (p.clockrate > 0)
        node->add_attribute("clockrate", std::to_string(p.clockrate));
    if (p.channels > 1)
        node->add_attribute("channels", std::to_string(p.channels));
    if (p.maxptime > 0)
        node->add_attribute("maxptime", std::to_string(p.maxptime));
    if (p.ptime > 0)
        node->add_attribute("ptime", std::to_string(p.ptime));
}

void write_content(XmlNode& parent, const JingleContent& content)
{
    XmlNode* node = parent.add_child("content");
    node->add_attribute("name", "audio");
    node->add_attribute("profile", "RTP/AVP");
    XmlNode* description = node->add_child("description");
    description->add_attribute("xmlns", jingle_ns::kAudioRtp);
    for (const PayloadType& p : content.payload_types)
        write_payload_type(*description, p);
    XmlNode* transport = node->add_child("transport");
    if (content.transport_kind == kTransportIceUdp) {
        transport->add_attribute("xmlns", jingle_ns::kIceUdp);
        transport->add_attribute("pwd", content.ice.pwd);
        transport->add_attribute("ufrag", content.ice.ufrag);
        return;
    }
    transport->add_attribute("xmlns", jingle_ns::kAddressTransport);
    for (const TransportAddress& a : content.addresses) {
        XmlNode* address = transport->add_child("address");
        address->add_attribute("ip", a.ip);
        address->add_attribute("port", std::to_string(a.port));
        address->add_attribute("name", a.name);
    }
}

void write_candidate(XmlNode& parent, const IceCandidate& c)
{
    XmlNode* node = parent.add_child("candidate");
    node->add_attribute("component", std::to_string(c.component));
    node->add_attribute("foundation", std::to_string(c.foundation));
    node->add_attribute("generation", std::to_string(c.generation));
    node->add_attribute("ip", c.ip);
    node->add_attribute("network", std::to_string(c.network));
    node->add_attribute("port", std::to_string(c.port));
    node->add_attribute("priority", std::to_string(c.priority));
    node->add_attribute("protocol", c.protocol);
    node->add_attribute("type", c.type);
    if (!c.rel_addr.empty()) {
        node->add_attribute("rel-addr", c.rel_addr);
        node->add_attribute("rel-port", std::to_string(c.rel_port));
    }
    if (!c.rem_addr.empty()) {
        node->add_attribute("rem-addr", c.rem_addr);
        node->add_attribute("rem-port", std::to_string(c.rem_port));
    }
}

std::optional<JingleContent> read_offered_content(const XmlNode& node)
{
    const XmlNode* description = node.find_element("description");
    const XmlNode* transport = node.find_element("transport");
    if (!description)
        return std::nullopt;
    const std::string description_ns = xmlns_of(description);
    JingleContent content;
    if (is_file_transfer(description_ns)) {
        content.file_transfer = true;
        string_attribute(node, "name", content.name);
        string_attribute(node, "profile", content.profile);
        return content;
    }
    if (!transport || !is_audio(description_ns))
        return std::nullopt;
    const std::string transport_ns = xmlns_of(transport);
    if (transport_ns == jingle_ns::kAddressTransport)
        content.transport_kind = kTransportAddress;
    else if (transport_ns == jingle_ns::kIce || transport_ns == jingle_ns::kIceUdp ||
             transport_ns == jingle_ns::xep_link(176) || transport_ns == jingle_ns::xep_link(1076))
        content.transport_kind = kTransportIceUdp;
    else
        return std::nullopt;
    read_common(node, description, transport, true, content);
    return content;
}

JingleContent read_accepted_content(const XmlNode& node, int kind)
{
    JingleContent content;
    content.transport_kind = kind;
    read_common(node, node.find_element("description"), node.find_element("transport"), false,
                content);
    return content;
}

IceCandidate read_candidate(const XmlNode& node)
{
    IceCandidate c;
    string_attribute(node, "ip", c.ip);
    c.port = int_attribute(node, "port", 0);
    string_attribute(node, "type", c.type);
    c.priority = int_attribute(node, "priority", 0);
    c.component = int_attribute(node, "component", 1);
    c.foundation = int_attribute(node, "foundation", 1);
    c.generation = int_attribute(node, "generation", 0);
    c.network = int_attribute(node, "network", 0);
    string_attribute(node, "protocol", c.protocol);
    string_attribute(node, "rem-addr", c.rem_addr);
    c.rem_port = int_attribute(node, "rem-port", 0);
    string_attribute(node, "rel-addr", c.rel_addr);
    c.rel_port = int_attribute(node, "rel-port", 0);
    return c;
}

MediaEndpoints media_endpoints(const JingleContent& content)
{
    MediaEndpoints m;
    if (content.transport_kind != kTransportAddress)
        return m;
    for (const TransportAddress& a : content.addresses) {
        if (a.name == "stun") {
            m.stun_ip = a.ip;
            m.stun_port = a.port;
        } else if (a.name == "peer") {
            m.peer_ip = a.ip;
            m.peer_port = a.port;
        } else if (a.name == "proxy") {
            m.proxy_ip = a.ip;
            m.proxy_port = a.port;
        }
    }
    return m;
}

} // namespace vokar
