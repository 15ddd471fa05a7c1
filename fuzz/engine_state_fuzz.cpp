// Arbitrary bytes read back from the engine's state files: the end of its log, which may begin
// inside a character, and its pid file, which anybody with root may have edited.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/tool_runner.h"
#include "engine/state_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The decoded log is valid UTF-8, a fixed point, and no longer than three bytes per input byte.
    const std::string text = orlune::decodeUtf8Lossy(bytes);
    if (!orlune::isValidUtf8(text)) std::abort();
    if (orlune::decodeUtf8Lossy(text) != text) std::abort();
    if (text.size() > size * 3) std::abort();
    if (orlune::isValidUtf8(bytes) && text != bytes) std::abort();

    // A pid read from the file never names init, a process group or a negative id.
    if (auto pid = orlune::parsePidFile(bytes); pid && *pid <= 1) std::abort();
    return 0;
}
