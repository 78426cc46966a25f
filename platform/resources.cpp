#include "platform/resources.h"

#include <algorithm>
#include <array>

namespace vokar::platform {
namespace {

struct Entry {
    int id;
    std::wstring_view text;
};

constexpr Entry kStrings[] = {
#define VOKAR_STRING(id, name, text) {id, text},
#include "resources/strings.def"
#undef VOKAR_STRING
};

constexpr bool sorted_and_unique()
{
    for (size_t i = 1; i < std::size(kStrings); ++i)
        if (kStrings[i - 1].id >= kStrings[i].id)
            return false;
    return true;
}
static_assert(sorted_and_unique(), "string table must be sorted by id without duplicates");

} // namespace

std::wstring_view load_string(int id)
{
    const auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                     [](const Entry& e, int v) { return e.id < v; });
    return it != std::end(kStrings) && it->id == id ? it->text : std::wstring_view{};
}

} // namespace vokar::platform
