// Server-list answers of any shape apply without crashing and leave every list
// with a usable current endpoint.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "account/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const vokar::platform::OperatorConfig config;
    vokar::SettingsStore store("/nonexistent/vokar-fuzz/__settings", config);
    store.set_client_up([](int) { return true; });
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    store.apply_server_list_answer(body);
    store.apply_server_list_answer(body); // the same answer again: no change
    for (size_t i = 0; i < 4; ++i) {
        auto& list = store.server_list(i);
        if (list.index() != 0 && list.index() >= list.entries().size())
            __builtin_trap();
        (void)list.current();
    }
    return 0;
}
