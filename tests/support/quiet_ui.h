#pragma once

#include "core/controller_ui.h"

namespace vokar::test {

// A user interface that shows nothing; test doubles derive from it and
// override only what they record.
class QuietUi : public ControllerUi {
public:
    intptr_t send_message(MessageCode, uintptr_t) override { return 0; }
    void post_message(MessageCode, uintptr_t) override {}
    void show_progress(StringId) override {}
    void show_message(StringId, StringId) override {}
    void show_message(const std::wstring&, StringId) override {}
    void show_main_screen() override {}
    void ask_import_accounts() override {}
    bool progress_screen_current() override { return false; }
    void show_new_version(const JabberEvent&) override {}
};

} // namespace vokar::test
