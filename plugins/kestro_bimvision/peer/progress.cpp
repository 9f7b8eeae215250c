#include "peer/progress.h"

#include <string>

#include "elements/text.h"

namespace kb {

namespace {

std::u16string reading_text(std::uint32_t done, std::uint32_t total) {
    return u"Leyendo " + format_grouped(done) + u" de " + format_grouped(total) + u" elementos";
}

std::u16string receiving_text(std::size_t elements) {
    return u"KESTRO est\u00E1 recibiendo " + format_grouped(elements) + u" elementos";
}

}  // namespace

UpdateProgress::UpdateProgress(Plugin& plugin, bool shown) noexcept
    : plugin_(plugin), shown_(shown) {
    if (shown_) start_ = plugin_.platform.windows.tick_count();
}

void UpdateProgress::show(const platform::ProgressView& view, std::uint32_t delay_ms) {
    if (window_) {
        window_->show(view);
        return;
    }
    // Sized once for the longest texts of this update: the count of objects read, and as many
    // records as there are objects (never more).
    const std::u16string longest_reading = reading_text(total_, total_);
    const std::u16string longest_receiving = receiving_text(total_);
    const char16_t* fits[] = {longest_reading.c_str(), longest_receiving.c_str()};
    window_ = plugin_.platform.windows.open_progress(plugin_.state.main_window, view, fits, 2,
                                                     delay_ms);
}

void UpdateProgress::objects_read(std::uint32_t done, std::uint32_t total) noexcept {
    total_ = total;
    if (!shown_) return;
    const std::uint32_t now = plugin_.platform.windows.tick_count();
    // Unsigned differences stay right when the clock wraps around.
    if (now - start_ < progress_after_ms) return;
    if (window_ && now - last_text_ < progress_refresh_ms) return;
    try {
        const std::u16string text = reading_text(done, total);
        platform::ProgressView view;
        view.text = text.c_str();
        view.done = done;
        view.total = total;
        show(view, 0);
        last_text_ = now;
    } catch (...) {
        // No memory for the text: the update goes on without it.
    }
}

bool UpdateProgress::stop_requested(std::uint32_t done) noexcept {
    if (window_ == nullptr || !window_->stop_requested()) return false;
    done_ = done;
    return true;
}

void UpdateProgress::receiving(std::size_t elements) noexcept {
    if (!shown_) return;
    const std::uint32_t elapsed = plugin_.platform.windows.tick_count() - start_;
    try {
        const std::u16string text = receiving_text(elements);
        platform::ProgressView view;
        view.text = text.c_str();
        view.receiving = true;
        show(view, elapsed >= progress_after_ms ? 0 : progress_after_ms - elapsed);
    } catch (...) {
    }
}

}  // namespace kb
