#include "peer/diagnostics.h"

namespace kb {

Diagnostic::Diagnostic(Plugin& plugin) noexcept : plugin_(plugin) {
    text(diagnostic_prefix);
}

Diagnostic::~Diagnostic() {
    if (failed_) return;
    try {
        plugin_.platform.modules.debug_output(line_.c_str());
    } catch (...) {
        // Diagnostics never change what the plugin does.
    }
}

Diagnostic& Diagnostic::text(std::u16string_view part) noexcept {
    if (failed_) return *this;
    try {
        line_.append(part);
    } catch (...) {
        failed_ = true;
    }
    return *this;
}

Diagnostic& Diagnostic::bytes(std::string_view part) noexcept {
    if (failed_) return *this;
    try {
        for (char c : part) line_.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    } catch (...) {
        failed_ = true;
    }
    return *this;
}

Diagnostic& Diagnostic::number(std::uint64_t value) noexcept {
    char16_t digits[20];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    char16_t ordered[20];
    for (std::size_t i = 0; i < n; ++i) ordered[i] = digits[n - 1 - i];
    return text(std::u16string_view(ordered, n));
}

Diagnostic& Diagnostic::handle(const void* value) noexcept {
    static constexpr char16_t hex[] = u"0123456789abcdef";
    auto v = reinterpret_cast<std::uintptr_t>(value);
    constexpr std::size_t size = 2 + 2 * sizeof v;
    char16_t digits[size];
    std::size_t n = size;
    do {
        digits[--n] = hex[v & 0xF];
        v >>= 4;
    } while (v != 0);
    digits[--n] = u'x';
    digits[--n] = u'0';
    return text(std::u16string_view(digits + n, size - n));
}

std::u16string_view trigger_name(std::int32_t request_code) noexcept {
    switch (request_code) {
        case REQUEST_UPDATE: return u"update";
        case REQUEST_SELECTION: return u"selection";
        case REQUEST_DRAG: return u"drag";
        default: return u"unknown";
    }
}

}  // namespace kb
