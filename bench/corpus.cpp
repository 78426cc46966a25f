#include "bench/corpus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vokar::bench {

std::string corpus_dir(int* argc, char** argv)
{
    std::string chosen;
    int out = 1;
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp(argv[i], "--corpus=", 9) == 0)
            chosen = argv[i] + 9;
        else
            argv[out++] = argv[i];
    }
    *argc = out;
    if (!chosen.empty())
        return chosen;
    const std::filesystem::path source(VOKAR_SOURCE_DIR);
    const auto shared = source.parent_path() / "shared" / "bench-corpus";
    if (std::filesystem::is_directory(shared))
        return shared.string();
    return (source / "bench" / "corpus").string();
}

std::string read_corpus_file(const std::string& dir, const std::string& name)
{
    const std::string path = dir + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "benchmark corpus file missing: %s (use --corpus=DIR)\n",
                     path.c_str());
        std::exit(2);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace vokar::bench
