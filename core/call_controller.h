#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/controller_ui.h"
#include "media/media_session.h"
#include "xmpp/jingle_content.h"

namespace vokar {

class PhoneInterface;
class SettingsStore;
class SipStackInterface;
class TunnelConnection;
namespace media {
class AudioEngine;
class TunnelChannels;
} // namespace media

// Where a call's media are bound on this side.
struct MediaParameters {
    std::string local_address;
    int local_port = 0;
    // Keeps the tunnel relay of a call that needs one open for the call.
    std::shared_ptr<void> relay;
    // Where UDP needs the tunnel: the tunnel whose media channels carry the
    // call's voice (null: plain UDP).
    std::shared_ptr<TunnelConnection> tunnel;
};

// What the far end offers for a call's voice: its payload types in its
// order, the session id (the voice packets' SSRC) and its addresses.
struct CallMedia {
    std::vector<int> payloads;
    std::string session_id;
    media::MediaEndpoints remote; // `local` is filled from the call's parameters
};

// Outgoing calls are written to the call log through it.
class CallHistory {
public:
    virtual ~CallHistory() = default;
    virtual void add_outgoing(const std::wstring& number, const std::wstring& name) = 0;
};

// Finds the media addresses a call offers. Runs on the phones' call threads
// and may take several seconds (a STUN query, a tunnel's relay port).
class AddressDiscovery {
public:
    virtual ~AddressDiscovery() = default;
    // The named endpoints ("peer", "stun", "proxy") a Jingle call offers;
    // `media` gets the local address and port the call binds.
    virtual std::vector<TransportAddress> jingle_addresses(MediaParameters& media) = 0;
    // Gives the stack the media port, STUN address and local address of one
    // SIP call; `media` gets the local address and port the call binds.
    virtual void sip_addresses(SipStackInterface& stack, MediaParameters& media) = 0;
};

// What calls need from the program; the phones hand it to every call.
struct CallSetup {
    // The call's own engine for a payload type; empty or null: no audio.
    std::function<std::unique_ptr<media::AudioEngine>(int payload_type)> make_audio;
    // Both not owned; null: no call log, no discovery (nothing is offered).
    CallHistory* history = nullptr;
    AddressDiscovery* discovery = nullptr;
};

struct CallEnvironment {
    ControllerUi& ui;
    SettingsStore& settings;
    CallSetup setup;
    // The contact's name for a number; empty when unknown.
    std::function<std::wstring(const std::wstring& number)> contact_name;
};

// One voice call, shown by the call screens. The screens create outgoing
// calls (through AppController::makeCall) and call answer, reject, hangUp and
// setVolume on the GUI thread; the phones call the rest from their receive
// and call threads. The phones hold a call while it is theirs and the
// screens while they show it: it is freed once both have let it go, so an
// event that arrives for a call the screen has closed finds it alive.
//
// It reports with window messages whose parameter is the call: sent for
// CallCreated, CallIncoming, CallConnected, CallMissed and the CallChanged of
// a state change, posted for CallOver, CallAudioStopped, CallMoved and the
// CallChanged of a hang-up.
class CallController : public std::enable_shared_from_this<CallController> {
public:
    enum State : int { kNew = 0, kAlerting = 1, kTalking = 2, kEnded = 3 };
    static constexpr int kPayloadSpeex = 97;
    static constexpr int kPayloadGsm = 3;

    CallController(const CallEnvironment& env, PhoneInterface* owner, bool incoming);
    ~CallController();
    CallController(const CallController&) = delete;
    CallController& operator=(const CallController&) = delete;

    // Screens.
    void answer();
    void reject();
    void hangUp();
    void setVolume(int volume);
    // A dial key's tone (0 to 9, 10 for #) in both directions of the call's
    // running audio; nothing while no audio runs.
    void playKeyTone(int index);

    // Phones.
    void alert();
    // An incoming call from `caller` (its user name): CallIncoming, then alert.
    void incoming(const std::string& caller);
    void connected(const CallMedia& media);
    void earlyMedia(const CallMedia& media);
    void rejectedByPeer();
    void ringing();
    void stopAudio();
    void ended(const std::wstring& text);

    // Moves the call to `phone` while it is still new, and posts CallMoved
    // so that the screens learn of it; false once it has left state kNew (a
    // hang-up came first).
    bool moveTo(PhoneInterface* phone);
    void setNumber(const std::wstring& number, const std::wstring& display_name);
    void setMediaParameters(const MediaParameters& media);
    void setRemoteMediaAddress(const std::string& address);
    // The far end's media of a SIP call, used when it is answered here.
    void setSipMedia(const CallMedia& media);

    // The codec for the far end's payload list: the first of Speex and GSM
    // (in the list's order), Speex when it names neither.
    static int choosePayload(const std::vector<int>& payloads);
    // The SSRC for a session id in decimal; 0 when it is not a number.
    static uint32_t ssrcOf(const std::string& session_id);

    PhoneInterface* owner() const;
    State state() const;
    bool isIncoming() const { return incoming_; }
    std::wstring number() const;
    std::wstring displayName() const;
    std::wstring statusText() const;
    MediaParameters mediaParameters() const;
    CallMedia sipMedia() const;
    std::string remoteMediaAddress() const;

private:
    uintptr_t self() const { return reinterpret_cast<uintptr_t>(this); }
    // Starts the ring sound once, at the ring volume.
    void start_ringing();
    // True when the media started (not once the call has ended).
    bool start_media(const CallMedia& media);
    void stop_audio_engine();
    void set_state(State state);

    ControllerUi& ui_;
    SettingsStore& settings_;
    const std::function<std::wstring(const std::wstring&)> contact_name_;
    const bool incoming_;

    mutable std::mutex mutex_; // the fields below up to audio_mutex_
    PhoneInterface* owner_;
    State state_ = kNew;
    std::wstring number_, display_name_, status_text_;
    int volume_ = 0;
    std::string remote_media_address_;
    MediaParameters media_;
    CallMedia sip_media_;
    bool early_media_ = false;

    // Serialises the engine's operations; taken before mutex_, never after.
    std::mutex audio_mutex_;
    // The tunnel's media channels the engine's session uses; they outlive it.
    std::unique_ptr<media::TunnelChannels> channels_;
    std::unique_ptr<media::AudioEngine> audio_;
    bool audio_started_ = false;
};

} // namespace vokar
