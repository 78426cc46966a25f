#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vokar {

// The gateways to other IM networks that the service hosts, each at a
// transport JID made of the network's prefix and the service domain.
struct TransportEntry {
    std::string jid;
    int network = 0;
    bool registered = false;
};

class TransportList {
public:
    explicit TransportList(std::string_view service_domain);

    // -1 when the JID is no transport's (exact comparison).
    int network_of(std::string_view jid) const;
    // "" when the network has no transport.
    std::string jid_of(int network) const;
    bool registered(int network) const;
    // Marks the first unregistered entry with this JID; its network id, or
    // -1 when none was marked.
    int mark_registered(std::string_view jid);
    void clear_registered(int network);
    const std::vector<TransportEntry>& entries() const { return entries_; }

private:
    std::vector<TransportEntry> entries_;
};

} // namespace vokar
