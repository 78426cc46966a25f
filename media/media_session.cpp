#include "media/media_session.h"

#include <vector>

#include "media/packetizer.h"
#include "platform/socket.h"

namespace vokar::media {
namespace {

MediaEndpoint normalised(MediaEndpoint e)
{
    if (e.port < 0 || e.port > 0xFFFF) {
        e.port = 0;
    }
    return e;
}

} // namespace

MediaSession::MediaSession(const MediaEndpoints& endpoints, MediaEndpoint relay,
                           MediaChannels* channels)
    : local_(normalised(endpoints.local)), channels_(channels)
{
    MediaEndpoint stun = normalised(endpoints.stun);
    MediaEndpoint lan = normalised(endpoints.lan);
    MediaEndpoint direct = normalised(endpoints.direct);
    relay = normalised(std::move(relay));
    const bool direct_is_lan = direct.address == lan.address && direct.port == lan.port;

    // The connection address adds nothing when it is the public or the local
    // one (or missing): the relay takes its place. A far end without a local
    // address gets the relay there instead.
    if (direct.address != lan.address) {
        if (direct.address == stun.address || direct.address.empty()) {
            direct = relay;
        } else if (lan.address.empty()) {
            lan = relay;
        }
    } else {
        direct = relay;
    }
    if (direct_is_lan) {
        lan = MediaEndpoint{};
    }

    targets_[kStun].endpoint = std::move(stun);
    targets_[kLan].endpoint = std::move(lan);
    targets_[kDirect].endpoint = std::move(direct);
    for (Target& t : targets_) {
        t.state = t.endpoint.port != 0 ? kCandidate : kUnused;
    }
}

MediaSession::~MediaSession()
{
    close();
}

bool MediaSession::open()
{
    std::lock_guard lock(mutex_);
    if (open_ || closed_) {
        return open_;
    }
    if (channels_ != nullptr) {
        uint8_t channel = MediaChannels::kFirstChannel;
        for (Target& t : targets_) {
            if (t.state == kCandidate) {
                channels_->send_frame(MediaChannels::kFrameAnnounce,
                                      t.endpoint.address + "\n" + std::to_string(t.endpoint.port));
                t.channel = channel++;
            }
        }
        open_ = true;
        return true;
    }
    for (Target& t : targets_) {
        if (t.state == kCandidate) {
            t.ip = platform::resolve_host(t.endpoint.address);
            if (t.ip == platform::kAddressNone) {
                t.state = kUnused;
            }
        }
    }
    uint32_t bind_ip = 0; // any
    if (!local_.address.empty()) {
        bind_ip = platform::parse_ipv4(local_.address);
        if (bind_ip == platform::kAddressNone) {
            return false;
        }
    }
    if (socket_.open(bind_ip, static_cast<uint16_t>(local_.port)) != platform::kWsaOk) {
        return false;
    }
    open_ = true;
    return true;
}

void MediaSession::send(std::string_view packet)
{
    std::vector<Target> to;
    {
        std::lock_guard lock(mutex_);
        if (!open_) {
            return;
        }
        ++packets_out_;
        bool any_confirmed = false;
        for (const Target& t : targets_) {
            any_confirmed = any_confirmed || t.state == kConfirmed;
        }
        const bool spray = packets_out_ <= kSprayPackets || !any_confirmed;
        for (const Target& t : targets_) {
            if (spray ? t.state != kUnused : t.state == kConfirmed) {
                to.push_back(t);
            }
        }
    }
    for (const Target& t : to) {
        if (channels_ != nullptr) {
            channels_->send_frame(t.channel, packet);
        } else {
            socket_.send_to(t.ip, static_cast<uint16_t>(t.endpoint.port), packet.data(),
                            packet.size());
        }
    }
}

MediaSession::Received MediaSession::receive(std::string* packet)
{
    packet->clear();
    if (!is_open()) {
        return Received::kClosed;
    }
    Destination source = kDirect;
    if (channels_ != nullptr) {
        uint8_t channel = 0;
        if (!channels_->receive_frame(&channel, packet, kMaxDatagram)) {
            return Received::kClosed;
        }
        std::lock_guard lock(mutex_);
        for (int d = 0; d < kDestinationCount; ++d) {
            if (targets_[d].state != kUnused && targets_[d].channel == channel) {
                source = static_cast<Destination>(d);
            }
        }
    } else {
        packet->resize(kMaxDatagram);
        size_t received = 0;
        uint32_t ip = 0;
        uint16_t port = 0;
        if (socket_.receive_from(packet->data(), packet->size(), &received, &ip, &port) !=
                platform::kWsaOk ||
            received == 0) {
            packet->clear();
            return is_open() ? Received::kDropped : Received::kClosed;
        }
        packet->resize(received);
        // Only the address counts: a far end may send from another port.
        const std::string from = platform::format_ipv4(ip);
        std::lock_guard lock(mutex_);
        if (from == targets_[kLan].endpoint.address) {
            source = kLan;
        } else if (from == targets_[kStun].endpoint.address) {
            source = kStun;
        }
    }
    if (!is_voice_packet(*packet)) {
        packet->clear();
        return Received::kDropped;
    }
    confirm(source);
    return Received::kVoice;
}

void MediaSession::confirm(Destination source)
{
    std::lock_guard lock(mutex_);
    if (targets_[source].state == kUnused) {
        return; // never send to a destination without an address
    }
    for (int d = 0; d < kDestinationCount; ++d) {
        if (targets_[d].state != kUnused) {
            targets_[d].state = d == source ? kConfirmed : kStandby;
        }
    }
}

void MediaSession::close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        open_ = false;
    }
    if (channels_ != nullptr) {
        channels_->close();
    }
    socket_.shutdown();
}

bool MediaSession::is_open() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

MediaSession::State MediaSession::state(Destination d) const
{
    std::lock_guard lock(mutex_);
    return targets_[d].state;
}

MediaEndpoint MediaSession::destination(Destination d) const
{
    std::lock_guard lock(mutex_);
    return targets_[d].endpoint;
}

int MediaSession::packets_out() const
{
    std::lock_guard lock(mutex_);
    return packets_out_;
}

} // namespace vokar::media
