#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_node.h"
#include "xmpp/presence_handler.h"
#include "xmpp/session_context.h"
#include "xmpp/transport_list.h"

namespace vokar {

// The gateways to other IM networks: discovery at login, registration,
// removal, and the translation of a legacy address into a contact's JID.
class GatewayHandler : public TransportLookup {
public:
    static constexpr const char* kDiscoInfo = "http://jabber.org/protocol/disco#info";
    static constexpr const char* kDiscoItems = "http://jabber.org/protocol/disco#items";

    GatewayHandler(SessionContext& session, PresenceHandler& presence,
                   std::string_view service_domain);

    // The server's disco#items: the last request of the session start.
    void discover();
    void register_user(int network, const std::string& user, const std::string& password);
    void unregister_user(int network);
    // Asks the network's transport for the JID of a legacy address and adds
    // that contact; nothing without a transport.
    void translate(int network, const std::string& legacy_address);
    bool registered(int network) const;

    // TransportLookup.
    int network_of(std::string_view jid) const override;
    std::vector<std::string> registered_jids() const override;

private:
    std::string jid_of(int network) const;
    // A set iq to `transport` holding an empty jabber:iq:register query.
    std::unique_ptr<XmlNode> register_iq(const std::string& transport);
    void on_disco_items(const XmlNode& answer);
    void on_disco_info(const XmlNode& answer);
    void mark_registered(const std::string& jid);

    SessionContext& session_;
    PresenceHandler& presence_;

    mutable std::mutex mutex_;
    TransportList transports_;
};

} // namespace vokar
