#include "app/xdg_opener.h"

#include "platform/open_url.h"

namespace vokar::app {

bool XdgOpener::open(const std::string& url)
{
    return platform::open_url(url);
}

} // namespace vokar::app
