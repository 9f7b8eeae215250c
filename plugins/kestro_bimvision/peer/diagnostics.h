// One line of the plugin's diagnostics for the system's debug output ("kestro_bimvision: ...").
// Silent unless a debugger or a debug-output viewer listens; never inside a per-element loop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/plugin.h"

namespace kb {

/// The prefix of every diagnostics line.
inline constexpr std::u16string_view diagnostic_prefix = u"kestro_bimvision: ";

/// Gathers one line and hands it to the debug output when it goes out of scope:
///     Diagnostic(plugin).text(u"peer found: process ").number(id);
/// Never throws: a line that runs out of memory is dropped.
class Diagnostic {
public:
    explicit Diagnostic(Plugin& plugin) noexcept;
    Diagnostic(const Diagnostic&) = delete;
    Diagnostic& operator=(const Diagnostic&) = delete;
    ~Diagnostic();

    Diagnostic& text(std::u16string_view part) noexcept;
    /// 8-bit text, each byte as the character of the same value.
    Diagnostic& bytes(std::string_view part) noexcept;
    /// Decimal, no grouping.
    Diagnostic& number(std::uint64_t value) noexcept;
    /// A handle or address: "0x" and lower-case hexadecimal digits.
    Diagnostic& handle(const void* value) noexcept;

private:
    Plugin& plugin_;
    std::u16string line_;
    bool failed_ = false;
};

/// The name of a request code in diagnostics ("update", "selection", "drag").
std::u16string_view trigger_name(std::int32_t request_code) noexcept;

}  // namespace kb
