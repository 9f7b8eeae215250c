// What the viewer logs of a WM_COPYDATA that reaches its own main window (a GUID request the
// plugin passed on, or one the script sent), and what it answers.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nlohmann/json.hpp>

namespace bvs {

/// What the main window procedure returns for WM_COPYDATA ("KB"), so that a sender can tell the
/// viewer's own answer from anything else.
inline constexpr std::int32_t copydata_result = 0x4B42;

/// The text of a message is logged up to its first NUL within cbData, and at most this long.
inline constexpr std::size_t copydata_text_limit = 4096;

/// The fields of the message's COPYDATASTRUCT.
struct CopyDataMessage {
    std::uint64_t data = 0;       // dwData
    std::uint32_t size = 0;       // cbData
    const void* bytes = nullptr;  // lpData
};

/// The "copydata" event of the `count`-th message from `sender` (wParam); `message` is null when
/// lParam was. The text is read byte for byte as Latin-1; a cut text is marked "truncated".
nlohmann::json copydata_event(std::uint64_t count, std::uint64_t sender,
                              const CopyDataMessage* message);

}  // namespace bvs
