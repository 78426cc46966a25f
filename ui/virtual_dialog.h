#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/canvas.h"
#include "platform/window.h"
#include "ui/custom_control.h"

namespace vokar::ui {

class UiRoot;

// The base of every screen: a title, a soft-key menu and controls in tab
// order. UiRoot keeps the screens on its stack and gives the current one the
// dialog's messages. GUI thread only.
class VirtualDialog {
public:
    VirtualDialog(std::wstring title, int menu_bar_id)
        : title_(std::move(title)), menu_bar_id_(menu_bar_id)
    {
    }
    virtual ~VirtualDialog() = default;
    VirtualDialog(const VirtualDialog&) = delete;
    VirtualDialog& operator=(const VirtualDialog&) = delete;

    // Called once, when the screen is registered with the root.
    virtual void attach(UiRoot& root) { root_ = &root; }
    // The dialog's messages: key-downs move the focus or go to the focused
    // control, characters go to it; soft-key commands arrive as
    // UiMessage::Command. Returns the message's result (0 when unhandled).
    virtual intptr_t handle_message(const platform::Message& message);
    // The screen became current; `first_time` on its first activation. The
    // base gives the focus to the focused control.
    virtual void activate(bool first_time);
    // The screen stopped being current.
    virtual void deactivate();
    // Places the controls in `client`: one under the other, each at its
    // preferred height; controls of height 0 share what is left.
    virtual void layout(const platform::Rect& client);
    virtual void paint(platform::Canvas& canvas);
    void invalidate();
    // Focuses the control with this window identifier; false when none.
    virtual bool focus_control(int id);
    virtual int menu_bar_id() const { return menu_bar_id_; }
    virtual std::wstring title() const { return title_; }
    virtual int focused_index() const { return focused_; }
    // The screen that holds the controls (a paged screen's current page).
    virtual const VirtualDialog& content() const { return *this; }

    const std::vector<std::unique_ptr<CustomControl>>& controls() const { return controls_; }
    CustomControl* focused_control() const;
    const platform::Rect& client() const { return client_; }
    UiRoot* root() const { return root_; }
    void set_title(std::wstring title) { title_ = std::move(title); }
    void set_menu_bar_id(int id) { menu_bar_id_ = id; }

protected:
    template <class T, class... Args> T& add(Args&&... args)
    {
        auto control = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *control;
        adopt(std::move(control));
        return ref;
    }
    // Moves the focus to the next (+1) or previous (-1) control that takes it.
    bool move_focus(int step);
    void set_focused_index(int index);

private:
    void adopt(std::unique_ptr<CustomControl> control);

    std::wstring title_;
    int menu_bar_id_;
    std::vector<std::unique_ptr<CustomControl>> controls_;
    int focused_ = -1;
    platform::Rect client_;
    UiRoot* root_ = nullptr;
};

} // namespace vokar::ui
