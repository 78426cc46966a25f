// Any settings file loads without crashing, and what loads saves and reloads
// to the same fields.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "account/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const vokar::platform::OperatorConfig config;
    // A path that never exists: the store starts from its defaults.
    vokar::SettingsStore store("/nonexistent/vokar-fuzz/__settings", config);
    store.load_from(std::string_view(reinterpret_cast<const char*>(data), size));
    const vokar::Settings loaded = store.values();
    if (loaded.ring_volume < 0 || loaded.ring_volume > 7 || loaded.volume < 0 || loaded.volume > 7)
        __builtin_trap();
    for (size_t i = 0; i < 5; ++i)
        (void)store.server_list(i).current();
    return 0;
}
