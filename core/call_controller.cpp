#include "core/call_controller.h"

#include <algorithm>
#include <charconv>

#include "account/settings_store.h"
#include "base/strings.h"
#include "core/phone_interface.h"
#include "media/audio_engine.h"
#include "media/tunnel_channels.h"
#include "platform/text.h"

namespace vokar {

CallController::CallController(const CallEnvironment& env, PhoneInterface* owner, bool incoming)
    : ui_(env.ui), settings_(env.settings), contact_name_(env.contact_name), incoming_(incoming),
      owner_(owner), volume_(env.settings.get(&Settings::volume))
{
    if (env.setup.make_audio)
        audio_ = env.setup.make_audio(kPayloadSpeex);
}

CallController::~CallController()
{
    if (audio_)
        audio_->stop();
}

int CallController::choosePayload(const std::vector<int>& payloads)
{
    const auto it = std::find_if(payloads.begin(), payloads.end(),
                                 [](int p) { return p == kPayloadSpeex || p == kPayloadGsm; });
    return it == payloads.end() ? kPayloadSpeex : *it;
}

uint32_t CallController::ssrcOf(const std::string& session_id)
{
    uint64_t value = 0;
    const char* end = session_id.data() + session_id.size();
    const auto [ptr, ec] = std::from_chars(session_id.data(), end, value);
    if (ec != std::errc() || ptr != end)
        return 0;
    return static_cast<uint32_t>(value);
}

// ---- fields

PhoneInterface* CallController::owner() const
{
    std::lock_guard lock(mutex_);
    return owner_;
}

CallController::State CallController::state() const
{
    std::lock_guard lock(mutex_);
    return state_;
}

std::wstring CallController::number() const
{
    std::lock_guard lock(mutex_);
    return number_;
}

std::wstring CallController::displayName() const
{
    std::lock_guard lock(mutex_);
    return display_name_;
}

std::wstring CallController::statusText() const
{
    std::lock_guard lock(mutex_);
    return status_text_;
}

MediaParameters CallController::mediaParameters() const
{
    std::lock_guard lock(mutex_);
    return media_;
}

CallMedia CallController::sipMedia() const
{
    std::lock_guard lock(mutex_);
    return sip_media_;
}

std::string CallController::remoteMediaAddress() const
{
    std::lock_guard lock(mutex_);
    return remote_media_address_;
}

bool CallController::moveTo(PhoneInterface* phone)
{
    {
        std::lock_guard lock(mutex_);
        if (state_ != kNew)
            return false;
        owner_ = phone;
    }
    ui_.post_message(MessageCode::CallMoved, self());
    return true;
}

void CallController::setNumber(const std::wstring& number, const std::wstring& display_name)
{
    std::lock_guard lock(mutex_);
    number_ = number;
    display_name_ = display_name.empty() ? number : display_name;
}

void CallController::setMediaParameters(const MediaParameters& media)
{
    std::lock_guard lock(mutex_);
    media_ = media;
}

void CallController::setRemoteMediaAddress(const std::string& address)
{
    std::lock_guard lock(mutex_);
    remote_media_address_ = address;
}

void CallController::setSipMedia(const CallMedia& media)
{
    std::lock_guard lock(mutex_);
    sip_media_ = media;
    remote_media_address_ = media.remote.direct.address;
}

void CallController::set_state(State state)
{
    std::lock_guard lock(mutex_);
    state_ = state;
}

// ---- screens

void CallController::answer()
{
    if (PhoneInterface* phone = owner())
        phone->accept(this);
}

void CallController::reject()
{
    stop_audio_engine();
    if (PhoneInterface* phone = owner())
        phone->reject(this);
    set_state(kEnded);
}

void CallController::hangUp()
{
    PhoneInterface* phone;
    bool was_ended;
    {
        std::lock_guard lock(mutex_);
        // A call the far end has ended keeps its end text.
        was_ended = state_ == kEnded;
        if (!was_ended)
            status_text_ = LoadResourceString(StringId::CALL_ENDED);
        state_ = kEnded;
        phone = owner_;
    }
    if (!was_ended)
        ui_.post_message(MessageCode::CallChanged, self());
    stop_audio_engine();
    if (phone)
        phone->hangUp(this);
}

void CallController::setVolume(int volume)
{
    {
        std::lock_guard audio(audio_mutex_);
        if (audio_)
            audio_->set_volume(volume);
    }
    {
        std::lock_guard lock(mutex_);
        volume_ = volume;
    }
    settings_.set(&Settings::volume, volume);
    settings_.save_soon();
}

void CallController::playKeyTone(int index)
{
    std::lock_guard audio(audio_mutex_);
    if (audio_ && audio_started_)
        audio_->play_key_tone(index);
}

// ---- phones

void CallController::start_ringing()
{
    std::lock_guard audio(audio_mutex_);
    if (!audio_ || audio_started_ || state() == kEnded)
        return;
    int volume = settings_.get(&Settings::ring_volume);
    if (!incoming_)
        volume /= 2;
    audio_->start_audio(0);
    audio_->ringing_on();
    audio_->set_volume(volume);
    audio_started_ = true;
}

void CallController::alert()
{
    set_state(kAlerting);
    start_ringing();
    if (PhoneInterface* phone = owner())
        phone->ringing(this);
}

void CallController::incoming(const std::string& caller)
{
    {
        std::lock_guard lock(mutex_);
        number_ = platform::to_wide(caller);
    }
    std::wstring name = contact_name_ ? contact_name_(platform::to_wide(caller)) : std::wstring();
    {
        std::lock_guard lock(mutex_);
        display_name_ = name.empty() ? number_ : std::move(name);
    }
    ui_.send_message(MessageCode::CallIncoming, self());
    alert();
}

bool CallController::start_media(const CallMedia& media)
{
    std::lock_guard audio(audio_mutex_);
    int volume;
    media::MediaEndpoints endpoints = media.remote;
    std::shared_ptr<TunnelConnection> tunnel;
    {
        std::lock_guard lock(mutex_);
        // A hang-up on another thread came first: nothing starts any more.
        if (state_ == kEnded)
            return false;
        volume = volume_ = settings_.get(&Settings::volume);
        endpoints.local.address = media_.local_address;
        endpoints.local.port = media_.local_port;
        tunnel = media_.tunnel;
    }
    if (!audio_)
        return true;
    const uint32_t ssrc = ssrcOf(media.session_id);
    audio_->set_payload(choosePayload(media.payloads));
    if (audio_started_) {
        audio_->set_ssrc(ssrc);
    } else {
        audio_->start_audio(ssrc);
        audio_started_ = true;
    }
    audio_->ringing_off();
    audio_->set_volume(volume);
    if (tunnel && !channels_)
        channels_ = std::make_unique<media::TunnelChannels>(*tunnel);
    audio_->start_media(endpoints, tunnel ? channels_.get() : nullptr);
    return true;
}

void CallController::connected(const CallMedia& media)
{
    if (!start_media(media))
        return;
    set_state(kTalking);
    ui_.send_message(MessageCode::CallConnected, self());
    ui_.send_message(MessageCode::CallChanged, self());
}

void CallController::earlyMedia(const CallMedia& media)
{
    {
        std::lock_guard lock(mutex_);
        if (early_media_)
            return;
        early_media_ = true;
    }
    start_media(media);
}

void CallController::rejectedByPeer()
{
    ended(LoadResourceString(StringId::CALL_ENDED_REJECTED));
}

void CallController::ringing()
{
    {
        std::lock_guard lock(mutex_);
        // The far end's ringing notice can arrive after its answer: a call
        // that is talking (or over) stays so.
        if (state_ == kTalking || state_ == kEnded)
            return;
        state_ = kAlerting;
    }
    start_ringing();
    ui_.send_message(MessageCode::CallChanged, self());
}

void CallController::stop_audio_engine()
{
    std::lock_guard audio(audio_mutex_);
    if (audio_ && audio_started_)
        audio_->stop();
    audio_started_ = false;
}

void CallController::stopAudio()
{
    stop_audio_engine();
    ui_.post_message(MessageCode::CallAudioStopped, self());
}

void CallController::ended(const std::wstring& text)
{
    bool missed;
    {
        std::lock_guard lock(mutex_);
        // Already hung up or rejected here: the screen knows.
        if (state_ == kEnded)
            return;
        missed = incoming_ && state_ == kAlerting;
        status_text_ = text;
        state_ = kEnded;
    }
    if (missed)
        ui_.send_message(MessageCode::CallMissed, self());
    stop_audio_engine();
    ui_.send_message(MessageCode::CallChanged, self());
    ui_.post_message(MessageCode::CallOver, self());
}

} // namespace vokar
