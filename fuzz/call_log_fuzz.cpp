// Any call-log file loads without crashing or looping, keeps a bounded number
// of entries, and what it saves loads again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "account/call_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A path that never exists: nothing is read or written.
    vokar::CallLog log("/nonexistent/vokar-fuzz/CallLog.txt", [] { return uint64_t{1}; });
    log.load_from(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto entries = log.entries();
    if (entries.size() > 1000)
        __builtin_trap();
    for (const auto& entry : entries)
        if (entry.name.empty() || !entry.from_file)
            __builtin_trap();
    const std::string saved = log.file_text();
    log.load_from(saved);
    if (log.entries().size() > vokar::CallLog::kMaxSavedRecords)
        __builtin_trap();
    return 0;
}
