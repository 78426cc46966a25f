#include "ui/ui_root.h"

#include <algorithm>

#include "base/messages.h"
#include "ui/image_ids.h"
#include "ui/message_screen.h"
#include "ui/progress_screen.h"
#include "ui/theme.h"
#include "ui/ui_messages.h"

namespace vokar::ui {

using platform::InputEvent;
using platform::Key;
using platform::Message;

UiRoot::UiRoot(platform::MessagePump& pump, platform::SdlWindow& window, platform::Clock& clock)
    : pump_(pump), sdl_(window), clock_(clock), timers_(clock)
{
    window_ = pump_.create_window([this](const Message& m) { return dialog_proc(m); });
    message_screen_ = &add_screen<MessageScreen>();
    progress_screen_ = &add_screen<ProgressScreen>();
}

UiRoot::~UiRoot()
{
    pump_.destroy_window(window_);
}

void UiRoot::show_screen(VirtualDialog& screen)
{
    platform::post_message(window_, code(UiMessage::ShowScreen),
                           reinterpret_cast<uintptr_t>(&screen));
}

void UiRoot::replace_screen(VirtualDialog& screen)
{
    platform::post_message(window_, code(UiMessage::ReplaceScreen),
                           reinterpret_cast<uintptr_t>(&screen));
}

void UiRoot::reset_to_screen(VirtualDialog& screen)
{
    platform::post_message(window_, code(UiMessage::ResetToScreen),
                           reinterpret_cast<uintptr_t>(&screen));
}

void UiRoot::back()
{
    if (!current_)
        return;
    popup_path_.clear();
    current_->deactivate();
    stack_.pop_back();
    if (stack_.empty()) {
        current_ = nullptr;
        end_dialog(kEndApplication);
        return;
    }
    current_ = stack_.back();
    reactivate();
}

void UiRoot::reactivate()
{
    platform::send_message(window_, code(UiMessage::Reactivate));
}

void UiRoot::invalidate()
{
    if (!repaint_pending_)
        repaint_pending_ = platform::post_message(window_, code(UiMessage::Repaint));
}

void UiRoot::repaint()
{
    repaint_pending_ = false;
    paint_frame(sdl_.canvas());
    sdl_.present();
    painted_once_ = true;
}

void UiRoot::set_soft_keys(int menu_id)
{
    soft_keys_menu_ = menu_id;
    const Menu* menu = find_menu(menu_id);
    left_key_ = menu ? menu->left : MenuItem{};
    right_key_ = menu ? menu->right : MenuItem{};
    popup_path_.clear();
    invalidate();
}

void UiRoot::message(const std::wstring& text, MessageKind kind, bool replace, bool auto_close)
{
    run_on_gui_thread([&] {
        message_screen_->set_message(text, kind, auto_close);
        if (current_ == message_screen_)
            invalidate();
        else if (replace)
            replace_screen(*message_screen_);
        else
            show_screen(*message_screen_);
    });
}

void UiRoot::progress(const std::wstring& text, int menu_id,
                      std::function<void(uint16_t)> on_command)
{
    run_on_gui_thread([&] {
        progress_screen_->set_progress(text, menu_id, std::move(on_command));
        if (current_ == progress_screen_)
            reactivate();
        else
            show_screen(*progress_screen_);
    });
}

void UiRoot::end_dialog(int result)
{
    ended_ = true;
    end_result_ = result;
}

platform::Rect UiRoot::screen_area() const
{
    const platform::Size size = sdl_.client_size();
    return {0, theme::kTitleBarHeight, size.w,
            std::max(0, size.h - theme::kTitleBarHeight - theme::kSoftKeyBarHeight)};
}

size_t UiRoot::run_once(uint32_t max_wait_ms)
{
    uint32_t wait = max_wait_ms;
    if (const auto due = timers_.next_due_in())
        wait = std::min(wait, *due);
    const size_t handled = sdl_.process_events(*this, wait);
    timers_.run_due();
    return handled;
}

int UiRoot::run()
{
    while (!ended_)
        run_once(1000);
    return end_result_;
}

intptr_t UiRoot::dialog_proc(const Message& m)
{
    switch (static_cast<UiMessage>(m.code)) {
    case UiMessage::ShowScreen:
    case UiMessage::ReplaceScreen:
    case UiMessage::ResetToScreen:
        change_stack(m.code, reinterpret_cast<VirtualDialog*>(m.wparam));
        return 1;
    case UiMessage::Reactivate:
        activate_current();
        return 1;
    case UiMessage::Repaint:
    case UiMessage::SettingChange:
        repaint();
        return 1;
    case UiMessage::RunOnGuiThread:
        (*reinterpret_cast<const std::function<void()>*>(m.wparam))();
        return 1;
    default:
        break;
    }
    if (m.code == code(MessageCode::CallChanged)) {
        if (global_handler_)
            global_handler_(m);
        return call_screen_ ? call_screen_->handle_message(m) : 0;
    }
    if (global_handler_)
        if (const auto result = global_handler_(m))
            return *result;
    return current_ ? current_->handle_message(m) : 0;
}

void UiRoot::change_stack(uint32_t message_code, VirtualDialog* screen)
{
    if (!screen)
        return;
    popup_path_.clear();
    if (current_)
        current_->deactivate();
    if (message_code == code(UiMessage::ResetToScreen))
        stack_.clear();
    else if (message_code == code(UiMessage::ReplaceScreen) && !stack_.empty())
        stack_.pop_back();
    stack_.push_back(screen);
    current_ = screen;
    reactivate();
}

void UiRoot::activate_current()
{
    if (!current_)
        return;
    if (!first_activation_done_) {
        line_height_ = sdl_.canvas().line_height(theme::kTextFont);
        first_activation_done_ = true;
    }
    set_soft_keys(current_->menu_bar_id());
    sdl_.set_title(current_->title());
    current_->layout(screen_area());
    // First activation per screen, and per page of a paged screen.
    const VirtualDialog* shown = &current_->content();
    const bool first = std::find(activated_.begin(), activated_.end(), shown) == activated_.end();
    if (first)
        activated_.push_back(shown);
    current_->activate(first);
    invalidate();
}

void UiRoot::send_command(uint16_t command)
{
    popup_path_.clear();
    invalidate();
    dialog_proc({code(UiMessage::Command), command, 0});
}

const std::vector<MenuItem>* UiRoot::popup_items() const
{
    if (popup_path_.empty())
        return nullptr;
    const std::vector<MenuItem>* items = &right_key_.items;
    for (size_t level = 0; level + 1 < popup_path_.size(); ++level)
        items = &(*items)[popup_path_[level]].items;
    return items;
}

bool UiRoot::popup_key(Key key)
{
    const std::vector<MenuItem>& items = *popup_items();
    const int n = static_cast<int>(items.size());
    int& selected = popup_path_.back();
    switch (key) {
    case Key::Up:
        selected = (selected + n - 1) % n;
        return true;
    case Key::Down:
        selected = (selected + 1) % n;
        return true;
    case Key::Action:
    case Key::SoftLeft:
    case Key::Right: {
        const MenuItem& item = items[selected];
        if (item.opens_popup())
            popup_path_.push_back(0);
        else if (key != Key::Right && item.command != 0)
            send_command(item.command);
        return true;
    }
    case Key::Left:
    case Key::Back:
        popup_path_.pop_back();
        return true;
    case Key::SoftRight:
        popup_path_.clear();
        return true;
    default:
        return false;
    }
}

void UiRoot::on_input(const InputEvent& event)
{
    switch (event.type) {
    case InputEvent::Type::KeyDown:
        if (!popup_path_.empty()) {
            popup_key(event.key);
            invalidate();
            return;
        }
        if (event.key == Key::SoftLeft || event.key == Key::SoftRight) {
            const MenuItem& soft = event.key == Key::SoftLeft ? left_key_ : right_key_;
            if (soft.opens_popup()) {
                popup_path_ = {0};
                invalidate();
            } else if (soft.command != 0) {
                send_command(soft.command);
            }
            return;
        }
        // Back that the only screen leaves alone leaves the program.
        if (dialog_proc({code(UiMessage::KeyDown), static_cast<uintptr_t>(event.key), 0}) == 0 &&
            event.key == Key::Back && stack_.size() == 1) {
            back();
            return;
        }
        // Keypad keys also type their character, as a translated key-down would.
        if (const wchar_t c = platform::key_char(event.key))
            dialog_proc({code(UiMessage::Char), static_cast<uintptr_t>(c), 0});
        return;
    case InputEvent::Type::KeyUp:
        dialog_proc({code(UiMessage::KeyUp), static_cast<uintptr_t>(event.key), 0});
        return;
    case InputEvent::Type::Text:
        for (wchar_t c : event.text)
            dialog_proc({code(UiMessage::Char), static_cast<uintptr_t>(c), 0});
        return;
    }
}

void UiRoot::on_resize(platform::Size)
{
    if (current_)
        current_->layout(screen_area());
    invalidate();
}

void UiRoot::on_close()
{
    end_dialog(kEndApplication);
}

void UiRoot::paint_frame(platform::Canvas& canvas)
{
    const platform::Size size = sdl_.client_size();
    canvas.begin_frame(size);
    canvas.fill({0, 0, size.w, size.h}, theme::kBackground);

    const platform::Rect title{0, 0, size.w, theme::kTitleBarHeight};
    canvas.fill_gradient(title, theme::kBarTop, theme::kBarBottom);
    int x = 2;
    if (canvas.image(image(ImageId::Logo20), x, (title.h - 20) / 2))
        x += 22;
    if (current_)
        canvas.text({x, 0, size.w - x - 2, title.h}, current_->title(), theme::kTitleFont,
                    theme::kBarText);

    if (current_)
        current_->paint(canvas);

    const platform::Rect bar{0, size.h - theme::kSoftKeyBarHeight, size.w,
                             theme::kSoftKeyBarHeight};
    canvas.fill_gradient(bar, theme::kBarTop, theme::kBarBottom);
    canvas.line(size.w / 2, bar.y + 4, size.w / 2, bar.bottom() - 4, theme::kBarText);
    const int half = size.w / 2 - 8;
    canvas.text({6, bar.y, half, bar.h}, left_key_.label, theme::kBoldFont, theme::kBarText,
                platform::Align::Center);
    canvas.text({size.w / 2 + 2, bar.y, half, bar.h}, right_key_.label, theme::kBoldFont,
                theme::kBarText, platform::Align::Center);
    paint_popup(canvas);
}

void UiRoot::paint_popup(platform::Canvas& canvas)
{
    if (popup_path_.empty())
        return;
    const platform::Size size = sdl_.client_size();
    const std::vector<MenuItem>* items = &right_key_.items;
    for (size_t level = 0; level < popup_path_.size(); ++level) {
        const int rows = static_cast<int>(items->size());
        const int w = 150;
        const int h = rows * theme::kRowHeight + 4;
        const int x = size.w - w - 2 - static_cast<int>(level) * 12;
        const int y = size.h - theme::kSoftKeyBarHeight - h - 2 - static_cast<int>(level) * 12;
        canvas.fill({x + 2, y + 2, w, h}, {0, 0, 0, 60});
        canvas.fill({x, y, w, h}, theme::kPopupBackground);
        canvas.frame({x, y, w, h}, theme::kFocusFrame);
        for (int i = 0; i < rows; ++i) {
            const MenuItem& item = (*items)[i];
            const platform::Rect row{x + 2, y + 2 + i * theme::kRowHeight, w - 4,
                                     theme::kRowHeight};
            if (i == popup_path_[level])
                canvas.fill_gradient(row, theme::kSelectionTop, theme::kSelectionBottom);
            canvas.text({row.x + 4, row.y, row.w - 16, row.h}, item.label, theme::kTextFont,
                        theme::kText);
            if (item.opens_popup())
                canvas.text({row.right() - 12, row.y, 10, row.h}, L"\u203A", theme::kTextFont,
                            theme::kText);
        }
        if (level + 1 < popup_path_.size())
            items = &(*items)[popup_path_[level]].items;
    }
}

void UiRoot::run_on_gui_thread(const std::function<void()>& fn)
{
    if (pump_.is_gui_thread())
        fn();
    else
        platform::send_message(window_, code(UiMessage::RunOnGuiThread),
                               reinterpret_cast<uintptr_t>(&fn));
}

UiView UiRoot::view() const
{
    UiView v;
    v.depth = stack_.size();
    v.menu_id = soft_keys_menu_;
    v.left = {std::wstring(left_key_.label), left_key_.command, left_key_.opens_popup()};
    v.right = {std::wstring(right_key_.label), right_key_.command, right_key_.opens_popup()};
    if (const std::vector<MenuItem>* items = popup_items()) {
        v.popup.open = true;
        v.popup.level = static_cast<int>(popup_path_.size()) - 1;
        v.popup.selected = popup_path_.back();
        for (const MenuItem& item : *items) {
            v.popup.items.emplace_back(item.label);
            v.popup.commands.push_back(item.command);
        }
    }
    v.ended = ended_;
    v.end_result = end_result_;
    if (!current_)
        return v;
    v.title = current_->title();
    const VirtualDialog& content = current_->content();
    if (const CustomControl* focused = content.focused_control())
        v.focused_id = focused->id();
    for (const auto& control : content.controls()) {
        ControlView cv;
        control->describe(cv);
        v.controls.push_back(std::move(cv));
    }
    if (current_ == message_screen_) {
        v.message_kind = message_screen_->kind();
        v.message_text = message_screen_->text();
    }
    return v;
}

bool UiRoot::screenshot(const std::string& path)
{
    repaint();
    return sdl_.canvas().save_png(path);
}

} // namespace vokar::ui
