#pragma once

#include <memory>
#include <vector>

#include "ui/virtual_dialog.h"

namespace vokar::ui {

// A screen made of pages switched with the Left and Right keys (wrapping).
// Every operation goes to the current page; switching copies the page's title
// and menu bar id and re-activates the screen.
class PagedScreen : public VirtualDialog {
public:
    PagedScreen() : VirtualDialog(L"", 0) {}

    // The first page added is shown first.
    template <class T, class... Args> T& add_page(Args&&... args)
    {
        auto page = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *page;
        pages_.push_back(std::move(page));
        if (root())
            ref.attach(*root());
        if (pages_.size() == 1)
            show_page(0);
        return ref;
    }
    size_t page_index() const { return current_; }
    VirtualDialog& page() { return *pages_.at(current_); }
    // Shows page `index` and re-activates the screen.
    void show_page(size_t index);

    void attach(UiRoot& root) override;
    intptr_t handle_message(const platform::Message& message) override;
    void activate(bool first_time) override;
    void deactivate() override;
    void layout(const platform::Rect& client) override;
    void paint(platform::Canvas& canvas) override;
    bool focus_control(int id) override;
    int focused_index() const override;
    const VirtualDialog& content() const override;

private:
    std::vector<std::unique_ptr<VirtualDialog>> pages_;
    size_t current_ = 0;
};

} // namespace vokar::ui
