#pragma once

#include <string>
#include <vector>

namespace vokar::bench {

// The benchmark corpus directory: --corpus=DIR if given (the flag is removed
// from argv), else ../shared/bench-corpus beside the checkout, else the
// project's own bench/corpus. Call before benchmark::Initialize.
std::string corpus_dir(int* argc, char** argv);

// The whole file, or exits with a message naming the missing file.
std::string read_corpus_file(const std::string& dir, const std::string& name);

std::vector<std::string> split_lines(const std::string& text);

} // namespace vokar::bench
