#include "base/strings.h"

#include "platform/resources.h"

namespace vokar {

std::wstring LoadResourceString(int id)
{
    constexpr size_t kMaxChars = 499;
    const std::wstring_view text = platform::load_string(id);
    return std::wstring(text.substr(0, kMaxChars));
}

} // namespace vokar
