#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_node.h"

namespace vokar {

// Namespaces of the provisional Jingle protocol.
namespace jingle_ns {
inline constexpr const char* kJingle = "urn:xmpp:tmp:jingle";
inline constexpr const char* kErrors = "urn:xmpp:tmp:jingle:errors";
inline constexpr const char* kAudioRtp = "urn:xmpp:tmp:jingle:apps:audio-rtp";
inline constexpr const char* kAudioRtpInfo = "urn:xmpp:tmp:jingle:apps:audio-rtp:info";
inline constexpr const char* kFileTransfer = "urn:xmpp:tmp:jingle:apps:file-transfer";
inline constexpr const char* kAddressTransport = "urn:xmpp:tmp:jingle:transports:vokar";
inline constexpr const char* kIceUdp = "urn:xmpp:tmp:jingle:transports:ice-udp";
// The ICE transport's other name; read as well as kIceUdp, which we write.
inline constexpr const char* kIce = "urn:xmpp:tmp:jingle:transports:ice";
inline constexpr const char* kIbb = "urn:xmpp:tmp:jingle:transports:ibb";
inline constexpr const char* kStanzas = "urn:ietf:params:xml:ns:xmpp-stanzas";

// The provisional namespace under which a XEP was published:
// "http://www.xmpp.org/extensions/xep-NNNN.html#ns".
std::string xep_link(int number);
} // namespace jingle_ns

enum TransportKind : int {
    kTransportAddress = 1, // the service's own list of named UDP endpoints
    kTransportIceUdp = 2,
};

// One codec: an RTP payload type. A missing number is -1 (channels: 1).
struct PayloadType {
    int32_t id = 0;
    std::string name;
    int32_t clockrate = -1;
    int32_t channels = 1;
    int32_t maxptime = -1;
    int32_t ptime = -1;
};

// One named UDP endpoint of the address transport: "stun", "peer" or "proxy".
struct TransportAddress {
    std::string ip;
    std::string name;
    int32_t port = 0;
};

struct IceCandidate {
    int32_t component = 1;
    int32_t foundation = 1;
    int32_t generation = 0;
    std::string ip;
    int32_t network = 0;
    int32_t port = 0;
    int32_t priority = 0;
    std::string protocol = "udp";
    std::string type = "host";
    std::string rem_addr;
    std::string rel_addr;
    int32_t rem_port = 0;
    int32_t rel_port = 0;
};

struct IceUdpTransport {
    // Draws a fresh pwd (22 characters) and ufrag (4).
    static IceUdpTransport create();

    std::vector<IceCandidate> remote;
    std::vector<IceCandidate> local;
    size_t current_local = 0;
    std::string pwd;
    std::string ufrag;
};

// One content of a session: a description and the transport of its kind.
struct JingleContent {
    std::string name;
    std::string profile;
    std::vector<PayloadType> payload_types;
    int transport_kind = kTransportAddress;
    bool file_transfer = false; // recognised, never carried out: no payloads, no transport
    std::vector<TransportAddress> addresses; // kTransportAddress
    IceUdpTransport ice;                     // kTransportIceUdp
};

// A new local audio content of `kind` offering `codecs`.
JingleContent new_local_content(int kind, const std::vector<PayloadType>& codecs);

// Appends the content (offer and answer forms are the same) to `parent`.
void write_content(XmlNode& parent, const JingleContent& content);
void write_payload_type(XmlNode& parent, const PayloadType& payload);
void write_candidate(XmlNode& parent, const IceCandidate& candidate);

// A content of a received session-initiate; the description and transport
// namespaces decide its kind. Null when neither is known.
std::optional<JingleContent> read_offered_content(const XmlNode& content);
// The first content of a received session-accept: it takes the session's kind.
JingleContent read_accepted_content(const XmlNode& content, int kind);
// The candidate's attributes, with the defaults for those absent.
IceCandidate read_candidate(const XmlNode& candidate);

// Where the call control may send media, from a received content of kind
// kTransportAddress (port 0 and an empty address where none was given).
struct MediaEndpoints {
    std::string stun_ip, peer_ip, proxy_ip;
    int32_t stun_port = 0, peer_port = 0, proxy_port = 0;
};
MediaEndpoints media_endpoints(const JingleContent& content);

} // namespace vokar
