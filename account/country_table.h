#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace vokar {

// The countries offered when creating an account, with their calling codes
// (digits only, no "+" or access prefix). Rows are fixed and in display order.
class CountryTable {
public:
    static size_t count();
    // `i` must be below count().
    static std::wstring_view name(size_t i);
    static std::wstring_view code(size_t i);

    // Indices, in table order, of the rows whose name begins with `typed`,
    // ignoring the case of ASCII letters. Empty text matches every row.
    static std::vector<size_t> filter(std::wstring_view typed);
};

} // namespace vokar
