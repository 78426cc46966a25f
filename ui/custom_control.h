#pragma once

#include <functional>

#include "platform/canvas.h"
#include "platform/input.h"
#include "ui/ui_view.h"

namespace vokar::ui {

class VirtualDialog;

// The base of every drawn control. A control lives in one screen, which
// positions it, gives it the keys while it has the focus, and paints it.
class CustomControl {
public:
    explicit CustomControl(int id = 0) : id_(id) {}
    virtual ~CustomControl() = default;
    CustomControl(const CustomControl&) = delete;
    CustomControl& operator=(const CustomControl&) = delete;

    virtual ControlKind kind() const = 0;
    // Height the screen's default layout gives it; 0 takes the space left.
    virtual int preferred_height() const { return 20; }
    virtual void paint(platform::Canvas& canvas, bool focused) = 0;
    // A key-down while focused; true when the control used it.
    virtual bool handle_key(platform::Key) { return false; }
    virtual bool handle_char(wchar_t) { return false; }
    // The screen became (or stopped being) the current one.
    virtual void on_activate() {}
    virtual void on_deactivate() {}
    virtual void describe(ControlView& view) const;

    int id() const { return id_; }
    const platform::Rect& rect() const { return rect_; }
    void move(const platform::Rect& r);
    bool visible() const { return visible_; }
    void show() { set_visible(true); }
    void hide() { set_visible(false); }
    void set_visible(bool visible);
    bool tab_stop() const { return tab_stop_ && visible_ && enabled_; }
    void set_enabled(bool enabled);
    // Asks the screen for a repaint; only the GUI thread draws.
    void invalidate();

protected:
    friend class VirtualDialog;
    VirtualDialog* owner() const { return owner_; }
    void set_tab_stop(bool tab_stop) { tab_stop_ = tab_stop; }

private:
    int id_;
    platform::Rect rect_;
    VirtualDialog* owner_ = nullptr;
    bool visible_ = true;
    bool enabled_ = true;
    bool tab_stop_ = false;
};

} // namespace vokar::ui
