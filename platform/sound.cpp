#include "platform/sound.h"

#include <mutex>

namespace vokar::platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<SoundBackend> g_backend;

} // namespace

void set_sound_backend(std::shared_ptr<SoundBackend> backend)
{
    std::lock_guard lock(g_mutex);
    g_backend = std::move(backend);
}

bool play_sound(std::wstring_view alias)
{
    std::shared_ptr<SoundBackend> backend;
    {
        std::lock_guard lock(g_mutex);
        backend = g_backend;
    }
    return backend ? backend->play(alias) : false;
}

} // namespace vokar::platform
