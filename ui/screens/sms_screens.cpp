#include "ui/screens/sms_screens.h"

#include <memory>

#include "base/strings.h"
#include "ui/theme.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

using platform::Key;

namespace {
constexpr int kInviteMenu = 130;
constexpr uint16_t kSend = 10020;
constexpr uint16_t kCheckBalance = 10005;
constexpr uint16_t kHide = 10007;
constexpr uint16_t kExitVokar = 10009;
constexpr uint16_t kInsertFromContacts = 10051;
constexpr uint16_t kBackOrCancel = 10052;
constexpr uint16_t kEdit = 10060;
constexpr uint16_t kInsertContact = 10070;
constexpr uint16_t kClearMessage = 10071;
constexpr uint16_t kSendInvitation = 10163;

constexpr size_t kSingleLimit = 160;
constexpr size_t kPartLimit = 153;

uint16_t command_of(const platform::Message& message)
{
    return message.code == code(UiMessage::Command) ? static_cast<uint16_t>(message.wparam) : 0;
}

// A number the service can deliver to: digits, with at most a leading '+'.
bool valid_number(const std::wstring& number)
{
    const size_t first = number.starts_with(L'+') ? 1 : 0;
    if (number.size() - first < 3)
        return false;
    for (size_t i = first; i < number.size(); ++i)
        if (number[i] < L'0' || number[i] > L'9')
            return false;
    return true;
}

void show_error(UiRoot& root, StringId text)
{
    root.message(LoadResourceString(text), MessageKind::Error);
}

// Runs `fn` on the GUI thread of `root` and waits for it; from the GUI thread
// it runs at once.
void on_gui(UiRoot& root, const std::function<void()>& fn)
{
    platform::send_message(root.window(), code(UiMessage::RunOnGuiThread),
                           reinterpret_cast<uintptr_t>(&fn));
}

// Draws `text` in `r`, broken between words into the lines that fit.
void paint_wrapped(platform::Canvas& canvas, const platform::Rect& r, const std::wstring& text)
{
    int y = r.y;
    std::wstring line;
    size_t start = 0;
    while (start < text.size() && y + theme::kRowHeight <= r.bottom()) {
        size_t end = text.find(L' ', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring word = text.substr(start, end - start);
        const std::wstring longer = line.empty() ? word : line + L' ' + word;
        if (!line.empty() && canvas.measure(longer, theme::kTextFont).w > r.w) {
            canvas.text({r.x, y, r.w, theme::kRowHeight}, line, theme::kTextFont, theme::kDimText);
            y += theme::kRowHeight;
            line = word;
        } else {
            line = longer;
        }
        start = end + 1;
    }
    if (!line.empty() && y + theme::kRowHeight <= r.bottom())
        canvas.text({r.x, y, r.w, theme::kRowHeight}, line, theme::kTextFont, theme::kDimText);
}
} // namespace

std::wstring sms_counter(size_t characters)
{
    size_t parts = 1;
    size_t limit = kSingleLimit;
    if (characters > kSingleLimit) {
        parts = (characters + kPartLimit - 1) / kPartLimit;
        limit = parts * kPartLimit;
    }
    return L"[" + std::to_wstring(characters) + L"/" + std::to_wstring(limit) + L"](" +
           std::to_wstring(parts) + L")";
}

// ---- Send SMS

SendSmsScreen::SendSmsScreen(Actions actions)
    : VirtualDialog(LoadResourceString(StringId::SEND_SMS_TITLE), kRecipientMenu),
      actions_(std::move(actions)),
      recipient_(add<TextBox>(kRecipientEdit,
                              LoadResourceString(StringId::SEND_SMS_RECIPIENT_PREFIX),
                              TextBox::Options{.numeric = true, .max_length = 32})),
      message_(
          add<TextBox>(kMessageEdit, L"", TextBox::Options{.numeric = false, .max_length = 1000})),
      counter_(add<Label>(sms_counter(0), kCounter))
{
}

void SendSmsScreen::show(const std::wstring& number)
{
    if (!number.empty())
        recipient_.set_text(number);
    // With a recipient the user goes on to the message.
    focus_control(recipient_.text().empty() ? kRecipientEdit : kMessageEdit);
    update();
    root()->show_screen(*this);
}

void SendSmsScreen::activate(bool first_time)
{
    VirtualDialog::activate(first_time);
    update();
}

void SendSmsScreen::paint(platform::Canvas& canvas)
{
    VirtualDialog::paint(canvas);
    if (message_.text().empty()) {
        const platform::Rect& r = message_.rect();
        paint_wrapped(canvas, {r.x + 4, r.y + 2, r.w - 8, r.h - 2},
                      LoadResourceString(StringId::SEND_SMS_MESSAGE_HINT));
    }
}

void SendSmsScreen::update()
{
    counter_.set_text(sms_counter(message_.text().size()));
    const int menu = focused_control() == &message_ ? kMessageMenu : kRecipientMenu;
    if (menu != menu_bar_id()) {
        set_menu_bar_id(menu);
        if (root() && root()->current() == this)
            root()->set_soft_keys(menu);
    }
}

void SendSmsScreen::stop_hold()
{
    if (hold_ != 0)
        root()->timers().stop(hold_);
    hold_ = 0;
}

void SendSmsScreen::send()
{
    const std::wstring recipient = recipient_.text();
    const std::wstring text = message_.text();
    if (!valid_number(recipient)) {
        show_error(*root(), StringId::SEND_SMS_ERROR_INVALID_NUMBER);
        return;
    }
    if (text.empty()) {
        show_error(*root(), StringId::SEND_SMS_ERROR_EMPTY_MESSAGE);
        return;
    }
    if (!actions_.send)
        return;
    UiRoot* root = this->root();
    actions_.send(recipient, text, [this, root] {
        on_gui(*root, [this] {
            recipient_.set_text(L"");
            message_.set_text(L"");
            focus_control(kRecipientEdit);
            update();
        });
    });
}

void SendSmsScreen::pick_contact()
{
    if (actions_.pick_contact)
        actions_.pick_contact([this](const std::wstring& number) {
            recipient_.set_text(number);
            update();
        });
}

intptr_t SendSmsScreen::handle_message(const platform::Message& message)
{
    switch (command_of(message)) {
    case 0:
        break;
    case kSend:
        send();
        return 1;
    case kEdit:
        focus_control(kMessageEdit);
        update();
        return 1;
    case kInsertContact:
        pick_contact();
        return 1;
    case kClearMessage:
        message_.set_text(L"");
        update();
        return 1;
    case kBackOrCancel:
        root()->back();
        return 1;
    case kExitVokar:
        root()->end_dialog(kEndApplication);
        return 1;
    case kCheckBalance:
    case kHide:
        if (actions_.other)
            actions_.other(command_of(message));
        return 1;
    default:
        return 0;
    }
    const bool in_recipient = focused_control() == &recipient_;
    if (message.code == code(UiMessage::KeyDown) &&
        static_cast<Key>(message.wparam) == Key::Action && in_recipient) {
        // A long press opens the picker; a short one does nothing.
        if (hold_ == 0)
            hold_ = root()->timers().start(kHoldMs + 1, 0, [this] {
                hold_ = 0;
                pick_contact();
            });
        return 1;
    }
    if (message.code == code(UiMessage::KeyUp) && static_cast<Key>(message.wparam) == Key::Action) {
        stop_hold();
        return 1;
    }
    const intptr_t handled = VirtualDialog::handle_message(message);
    update();
    return handled;
}

// ---- Invite a friend

InviteScreen::InviteScreen(Actions actions)
    : VirtualDialog(LoadResourceString(StringId::INVITE_TITLE), kInviteMenu),
      actions_(std::move(actions)),
      number_(add<TextBox>(kNumberEdit, LoadResourceString(StringId::INVITE_MOBILE_NUMBER_LABEL),
                           TextBox::Options{.numeric = true, .max_length = 32}))
{
}

void InviteScreen::show(const std::wstring& number)
{
    if (!number.empty())
        number_.set_text(number);
    root()->show_screen(*this);
}

intptr_t InviteScreen::handle_message(const platform::Message& message)
{
    switch (command_of(message)) {
    case 0:
        return VirtualDialog::handle_message(message);
    case kSendInvitation:
        if (number_.text().empty())
            show_error(*root(), StringId::INVITE_ERROR_INVALID_NUMBER);
        else if (actions_.invite)
            actions_.invite(number_.text());
        return 1;
    case kInsertFromContacts:
        if (actions_.pick_contact)
            actions_.pick_contact([this](const std::wstring& number) { number_.set_text(number); });
        return 1;
    case kBackOrCancel:
        root()->back();
        return 1;
    default:
        return 0;
    }
}

} // namespace vokar::ui
