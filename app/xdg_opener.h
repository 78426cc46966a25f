#pragma once

#include "ui/screens/new_version_screen.h"

namespace vokar::app {

// Opens an address with `xdg-open`, started directly (no shell) and not
// waited for.
class XdgOpener final : public ui::UrlOpener {
public:
    bool open(const std::string& url) override;
};

} // namespace vokar::app
