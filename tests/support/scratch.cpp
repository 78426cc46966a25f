#include "tests/support/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vokar::test {

std::string make_temp_directory(std::string_view prefix)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base ? base : "/tmp") + "/" + std::string(prefix) + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

void remove_directory(const std::string& dir)
{
    if (dir.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string program_path(const char* variable, const char* built)
{
    if (const char* path = std::getenv(variable); path && *path)
        return path;
    return built;
}

} // namespace vokar::test
