// WAV files as the file microphone reads them: the samples found must lie
// inside the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/audio_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const auto samples = vokar::platform::wav_samples(file);
    if (samples && (samples->data() < file.data() ||
                    samples->data() + samples->size() > file.data() + file.size()))
        __builtin_trap();
    return 0;
}
