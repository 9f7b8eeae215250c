#include "peer/progress.h"

#include <string>

#include "elements/text.h"

namespace kb {

UpdateProgress::UpdateProgress(Plugin& plugin, bool shown) noexcept
    : plugin_(plugin), shown_(shown) {
    if (shown_) start_ = plugin_.platform.windows.tick_count();
}

void UpdateProgress::show(const char16_t* text, std::uint32_t delay_ms) {
    if (window_)
        window_->set_text(text);
    else
        window_ = plugin_.platform.windows.open_progress(plugin_.state.main_window, text, delay_ms);
}

void UpdateProgress::objects_read(std::uint32_t done, std::uint32_t total) noexcept {
    total_ = total;
    if (!shown_) return;
    const std::uint32_t now = plugin_.platform.windows.tick_count();
    // Unsigned differences stay right when the clock wraps around.
    if (now - start_ < progress_after_ms) return;
    if (window_ && now - last_text_ < progress_refresh_ms) return;
    try {
        const std::u16string text = u"Leyendo " + format_grouped(done) + u" de " +
                                    format_grouped(total) + u" elementos";
        show(text.c_str(), 0);
        last_text_ = now;
    } catch (...) {
        // No memory for the text: the update goes on without it.
    }
}

void UpdateProgress::receiving(std::size_t elements) noexcept {
    if (!shown_) return;
    const std::uint32_t elapsed = plugin_.platform.windows.tick_count() - start_;
    try {
        const std::u16string text =
            u"KESTRO est\u00E1 recibiendo " + format_grouped(elements) + u" elementos";
        show(text.c_str(), elapsed >= progress_after_ms ? 0 : progress_after_ms - elapsed);
    } catch (...) {
    }
}

}  // namespace kb
