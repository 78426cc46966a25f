#include "ui/screens/call_screens.h"

#include <algorithm>
#include <cwchar>

#include "account/call_log.h"
#include "base/messages.h"
#include "base/strings.h"
#include "media/key_tone_player.h"
#include "ui/image_ids.h"
#include "ui/theme.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

using platform::Key;

namespace {
constexpr int kHangupMenu = 115;
constexpr int kOutgoingMenu = 117;
constexpr int kIncomingMenu = 119;
constexpr int kSetupMenu = 131;
constexpr uint16_t kHangup = 10090;
constexpr uint16_t kReject = 10101;
constexpr uint16_t kAccept = 10120;
constexpr uint16_t kCancel = 10081;

constexpr platform::Font kNameFont{12, true};
constexpr platform::Font kCounterFont{16, true};

uint16_t command_of(const platform::Message& message)
{
    return message.code == code(UiMessage::Command) ? static_cast<uint16_t>(message.wparam) : 0;
}

CallController* call_of(const platform::Message& message)
{
    return reinterpret_cast<CallController*>(message.wparam);
}

// The state line: the progress of the call, or its end text once it is over.
std::wstring state_text(const CallController& call)
{
    switch (call.state()) {
    case CallController::kNew:
        return LoadResourceString(StringId::CALL_STATE_ESTABLISHING);
    case CallController::kAlerting:
        return LoadResourceString(StringId::CALL_STATE_RINGING);
    case CallController::kTalking:
        return LoadResourceString(StringId::CALL_STATE_TALKING);
    case CallController::kEnded:
        break;
    }
    const std::wstring text = call.statusText();
    return text.empty() ? LoadResourceString(StringId::CALL_ENDED) : text;
}

std::wstring mm_ss(uint32_t seconds)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%02u:%02u", seconds / 60, seconds % 60);
    return text;
}
} // namespace

// ---- controls

CenteredText::CenteredText(int id, std::wstring text, platform::Font font, int height)
    : CustomControl(id), text_(std::move(text)), font_(font), height_(height)
{
}

void CenteredText::paint(platform::Canvas& canvas, bool)
{
    canvas.text(rect(), text_, font_, theme::kText, platform::Align::Center);
}

void CenteredText::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.text = text_;
    view.shown = text_;
}

void CenteredText::set_text(std::wstring text)
{
    if (text == text_)
        return;
    text_ = std::move(text);
    invalidate();
}

VolumeControl::VolumeControl(int id, std::function<void(int)> on_change)
    : CustomControl(id), on_change_(std::move(on_change))
{
    set_tab_stop(true);
}

void VolumeControl::paint(platform::Canvas& canvas, bool focused)
{
    // One bar per step, growing to the right; the steps up to the value are filled.
    const platform::Rect& r = rect();
    const int bar_w = 10;
    const int gap = 4;
    const int width = kSteps * bar_w + (kSteps - 1) * gap;
    const int x0 = r.x + (r.w - width) / 2;
    for (int i = 0; i < kSteps; ++i) {
        const int h = 6 + i * (r.h - 8) / kSteps;
        const platform::Rect bar{x0 + i * (bar_w + gap), r.bottom() - 2 - h, bar_w, h};
        if (i <= value_ && value_ > 0)
            canvas.fill_gradient(bar, theme::kBarTop, theme::kBarBottom);
        else
            canvas.fill(bar, theme::kFieldBackground);
        canvas.frame(bar, focused ? theme::kFocusFrame : theme::kFrame);
    }
}

bool VolumeControl::handle_key(Key key)
{
    int step;
    if (key == Key::Right || key == Key::Up)
        step = 1;
    else if (key == Key::Left || key == Key::Down)
        step = -1;
    else
        return false;
    const int before = value_;
    set_value(value_ + step);
    if (value_ != before && on_change_)
        on_change_(value_);
    return true;
}

void VolumeControl::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.selection = value_;
}

void VolumeControl::set_value(int value)
{
    value = std::clamp(value, 0, kSteps - 1);
    if (value == value_)
        return;
    value_ = value;
    invalidate();
}

// ---- Call

CallScreen::CallScreen(CallScreens& owner)
    : VirtualDialog(LoadResourceString(StringId::CALL_TITLE), kSetupMenu), owner_(owner),
      name_(add<CenteredText>(kName, L"", kNameFont, 30)),
      status_(add<CenteredText>(kStatus, L"", theme::kTextFont, 20)),
      duration_(add<CenteredText>(kDuration, mm_ss(0), kCounterFont, 34)),
      volume_(add<VolumeControl>(kVolume, [this](int volume) {
          // Applied to the call, which stores it as the call volume.
          if (call_)
              call_->setVolume(volume);
      }))
{
}

void CallScreen::layout(const platform::Rect& client)
{
    VirtualDialog::layout(client);
    // The party and the call's progress at the top, the volume at the bottom.
    const int x = client.x + theme::kMargin;
    const int w = client.w - 2 * theme::kMargin;
    name_.move({x, client.y + 20, w, 30});
    status_.move({x, client.y + 54, w, 20});
    duration_.move({x, client.y + 86, w, 34});
    volume_.move({x, client.bottom() - 46, w, 30});
}

void CallScreen::paint(platform::Canvas& canvas)
{
    // The phone between the counter and the volume.
    const platform::Rect area = client();
    canvas.image(image(ImageId::Phone), area.x + area.w / 2 - 10,
                 duration_.rect().bottom() + (volume_.rect().y - duration_.rect().bottom()) / 2 -
                     10);
    VirtualDialog::paint(canvas);
}

void CallScreen::show_call(std::shared_ptr<CallController> call)
{
    stop_counter();
    call_ = std::move(call);
    talking_seen_ = false;
    duration_.set_text(mm_ss(0));
    refresh();
}

void CallScreen::refresh()
{
    if (!call_)
        return;
    name_.set_text(call_->displayName());
    status_.set_text(state_text(*call_));
    const CallController::State state = call_->state();
    const int menu = state < CallController::kTalking ? kSetupMenu : kHangupMenu;
    if (menu != menu_bar_id()) {
        set_menu_bar_id(menu);
        if (root() && root()->current() == this)
            root()->set_soft_keys(menu);
    }
    if (state == CallController::kTalking && !talking_seen_) {
        talking_seen_ = true;
        talk_start_ = root()->clock().tick_count();
        counter_ = root()->timers().start(1000, 1000, [this] { show_duration(); });
        owner_.timers_.push_back(counter_);
    } else if (state == CallController::kEnded) {
        stop_counter();
    }
    if (owner_.services_.call_volume)
        volume_.set_value(owner_.services_.call_volume());
}

void CallScreen::show_duration()
{
    const uint32_t elapsed = talking_seen_ ? root()->clock().tick_count() - talk_start_ : 0;
    duration_.set_text(mm_ss(elapsed / 1000));
}

void CallScreen::stop_counter()
{
    if (counter_ == 0)
        return;
    show_duration();
    root()->timers().stop(counter_);
    counter_ = 0;
}

void CallScreen::finish()
{
    if (!call_)
        return;
    stop_counter();
    refresh();
    if (owner_.services_.save_settings)
        owner_.services_.save_settings();
    owner_.finish_later(std::move(call_));
}

void CallScreen::hang_up()
{
    if (!call_) {
        if (root()->current() == this)
            root()->back();
        return;
    }
    if (call_->state() != CallController::kEnded)
        call_->hangUp();
    owner_.drop_outgoing();
    finish();
}

intptr_t CallScreen::handle_message(const platform::Message& message)
{
    switch (command_of(message)) {
    case kHangup:
    case kCancel:
        hang_up();
        return 1;
    default:
        break;
    }
    if (message.code == code(UiMessage::KeyDown)) {
        const auto key = static_cast<Key>(message.wparam);
        int tone = -1;
        if (key >= Key::Digit0 && key <= Key::Digit9)
            tone = static_cast<int>(key) - static_cast<int>(Key::Digit0);
        else if (key == Key::Hash)
            tone = media::KeyTonePlayer::kToneHash;
        if (tone >= 0) {
            if (call_) {
                if (owner_.services_.key_tone)
                    owner_.services_.key_tone(*call_, tone);
                else
                    call_->playKeyTone(tone);
            }
            return 1;
        }
    }
    if (message.code == code(UiMessage::KeyUp) && static_cast<Key>(message.wparam) == Key::End) {
        hang_up();
        owner_.start_timer(CallScreens::kRaiseDelayMs, [this] {
            if (owner_.services_.raise_window)
                owner_.services_.raise_window();
        });
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

// ---- Outgoing call

OutgoingCallScreen::OutgoingCallScreen(CallScreens& owner)
    : VirtualDialog(LoadResourceString(StringId::OUTGOING_CALL_TITLE), kOutgoingMenu), owner_(owner)
{
    add<CenteredText>(kExternal, LoadResourceString(StringId::OUTGOING_CALL_EXTERNAL_NETWORK),
                      theme::kBoldFont, 40);
    add<CenteredText>(kCharged, LoadResourceString(StringId::OUTGOING_CALL_CHARGED),
                      theme::kTextFont, 20);
}

void OutgoingCallScreen::activate(bool first_time)
{
    VirtualDialog::activate(first_time);
    // Shown after its call connected or ended: it goes at once.
    if (!wanted_)
        owner_.start_timer(0, [this] {
            if (!wanted_ && root()->current() == this)
                root()->back();
        });
}

intptr_t OutgoingCallScreen::handle_message(const platform::Message& message)
{
    if (command_of(message) != kReject)
        return VirtualDialog::handle_message(message);
    wanted_ = false;
    owner_.call_->hang_up();
    if (owner_.services_.show_home)
        owner_.services_.show_home();
    else if (root()->current() == this)
        root()->back();
    return 1;
}

// ---- Incoming call

IncomingCallScreen::IncomingCallScreen(CallScreens& owner)
    : VirtualDialog(LoadResourceString(StringId::INCOMING_CALL_TITLE), kIncomingMenu), owner_(owner)
{
    add<CenteredText>(kText, LoadResourceString(StringId::INCOMING_CALL_TEXT), theme::kBoldFont,
                      40);
    caller_ = &add<CenteredText>(kCaller, L"", kNameFont, 30);
}

void IncomingCallScreen::show_call(std::shared_ptr<CallController> call)
{
    call_ = std::move(call);
    caller_->set_text(call_->displayName());
}

intptr_t IncomingCallScreen::handle_message(const platform::Message& message)
{
    const uint16_t command = command_of(message);
    if (command != kAccept && command != kReject)
        return VirtualDialog::handle_message(message);
    std::shared_ptr<CallController> call = std::move(call_);
    if (!call) {
        // The caller gave up while another screen was on top.
        root()->back();
        return 1;
    }
    if (command == kAccept) {
        owner_.log_call(*call, kCallIncoming);
        // On the call screen before answering: a SIP call connects at once.
        owner_.show_on_call_screen(call, /*replace=*/true);
        call->answer();
    } else {
        call->reject();
        owner_.log_call(*call, kCallMissed);
        owner_.release(std::move(call));
        root()->back();
    }
    return 1;
}

// ---- the call messages

CallScreens::CallScreens(UiRoot& root, Services services)
    : root_(root), services_(std::move(services))
{
    call_ = &root.add_screen<CallScreen>(*this);
    outgoing_ = &root.add_screen<OutgoingCallScreen>(*this);
    incoming_ = &root.add_screen<IncomingCallScreen>(*this);
}

CallScreens::~CallScreens()
{
    for (UiTimers::Id id : timers_)
        root_.timers().stop(id);
    call_->stop_counter();
    release(std::move(call_->call_));
    release(std::move(incoming_->call_));
    for (auto& call : finishing_)
        release(std::move(call));
}

void CallScreens::start_timer(uint32_t delay_ms, std::function<void()> fn)
{
    // Finished timers are forgotten as new ones start.
    std::erase_if(timers_, [this](UiTimers::Id id) { return !root_.timers().running(id); });
    timers_.push_back(root_.timers().start(delay_ms, 0, std::move(fn)));
}

void CallScreens::finish_later(std::shared_ptr<CallController> call)
{
    const CallController* done = call.get();
    finishing_.push_back(std::move(call));
    start_timer(kBackDelayMs, [this, done] {
        // Only when the user has not moved on, and no new call is on view.
        if (!call_->call() && root_.current() == call_)
            root_.back();
        const auto it = std::find_if(finishing_.begin(), finishing_.end(),
                                     [done](const auto& c) { return c.get() == done; });
        if (it == finishing_.end())
            return;
        std::shared_ptr<CallController> finished = std::move(*it);
        finishing_.erase(it);
        release(std::move(finished));
    });
}

std::optional<intptr_t> CallScreens::handle_event(const platform::Message& message)
{
    CallController* call = call_of(message);
    switch (static_cast<MessageCode>(message.code)) {
    case MessageCode::CallCreated:
        on_created(call);
        return 1;
    case MessageCode::CallIncoming:
        on_incoming(call);
        return 1;
    case MessageCode::CallChanged:
    case MessageCode::CallConnected:
    case MessageCode::CallMoved:
        on_changed(call);
        return 1;
    case MessageCode::CallMissed:
        on_missed(call);
        return 1;
    case MessageCode::CallOver:
        on_over(call);
        return 1;
    case MessageCode::CallAudioStopped:
        return 1;
    default:
        return std::nullopt;
    }
}

void CallScreens::on_created(CallController* call)
{
    // Sent by the thread that made the call, which holds it meanwhile.
    if (std::shared_ptr<CallController> shared = call ? call->weak_from_this().lock() : nullptr)
        show_on_call_screen(std::move(shared), /*replace=*/false);
}

void CallScreens::on_incoming(CallController* call)
{
    std::shared_ptr<CallController> shared = call ? call->weak_from_this().lock() : nullptr;
    if (!shared)
        return;
    if (std::shared_ptr<CallController> ringing = std::move(incoming_->call_)) {
        // Only one call rings here at a time.
        ringing->reject();
        log_call(*ringing, kCallMissed);
        release(std::move(ringing));
    }
    incoming_->show_call(std::move(shared));
    if (root_.current() != incoming_)
        root_.show_screen(*incoming_);
}

void CallScreens::on_changed(CallController* call)
{
    if (!call || call != call_->call())
        return;
    call_->refresh();
    const CallController::State state = call->state();
    if (state >= CallController::kTalking) {
        drop_outgoing();
        return;
    }
    const bool moved =
        !call->isIncoming() && services_.jingle_phone && call->owner() != services_.jingle_phone;
    if (moved && outgoing_for_ != call) {
        outgoing_for_ = call;
        outgoing_->wanted_ = true;
        root_.show_screen(*outgoing_);
    }
}

void CallScreens::on_missed(CallController* call)
{
    if (!call || call != incoming_->call())
        return;
    std::shared_ptr<CallController> missed = std::move(incoming_->call_);
    log_call(*missed, kCallMissed);
    release(std::move(missed));
    if (root_.current() == incoming_)
        root_.back();
}

void CallScreens::on_over(CallController* call)
{
    if (!call)
        return;
    if (call == call_->call()) {
        drop_outgoing();
        call_->finish();
    } else if (call == incoming_->call()) {
        on_missed(call);
    }
}

void CallScreens::drop_outgoing()
{
    outgoing_->wanted_ = false;
    if (root_.current() == outgoing_)
        root_.back();
}

void CallScreens::show_on_call_screen(std::shared_ptr<CallController> call, bool replace)
{
    if (call_->call() && call_->call() != call.get())
        call_->hang_up();
    outgoing_for_ = nullptr;
    call_->show_call(std::move(call));
    if (replace)
        root_.replace_screen(*call_);
    else if (root_.current() != call_)
        root_.show_screen(*call_);
}

void CallScreens::release(std::shared_ptr<CallController> call)
{
    if (call && services_.release)
        services_.release(std::move(call));
}

void CallScreens::log_call(const CallController& call, int type)
{
    if (services_.log_call)
        services_.log_call(call.number(), call.displayName(), type);
}

} // namespace vokar::ui
