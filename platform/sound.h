#pragma once

#include <memory>
#include <string_view>

namespace vokar::platform {

// Plays short alert sounds by alias (the new-message beep). The default
// back-end is silent; the audio layer installs a real one.
class SoundBackend {
public:
    virtual ~SoundBackend() = default;
    // Starts the sound and returns without waiting for it to finish.
    virtual bool play(std::wstring_view alias) = 0;
};

// Installs the process's back-end (null restores the silent one).
void set_sound_backend(std::shared_ptr<SoundBackend> backend);

// Plays through the installed back-end; false when nothing was played.
bool play_sound(std::wstring_view alias);

} // namespace vokar::platform
