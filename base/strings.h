#pragma once

#include <string>

namespace vokar {

// Identifiers of the string table. Window message codes are a separate number
// space that overlaps this one.
enum class StringId : int {
#define VOKAR_STRING(id, name, text) name = id,
#include "resources/strings.def"
#undef VOKAR_STRING
};

// The text with this identifier, at most 499 characters; an empty text when
// the identifier is not in the table.
std::wstring LoadResourceString(int id);
inline std::wstring LoadResourceString(StringId id)
{
    return LoadResourceString(static_cast<int>(id));
}

} // namespace vokar
