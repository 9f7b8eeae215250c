// A user watching the plugin's progress window: a thread of the viewer's own, which finds that
// window while the viewer's thread is busy inside the plugin, logs what each of its texts shows
// and how the text fits, and, when asked, presses "Cancelar" with the mouse as a user would.
#pragma once

#include <windows.h>

#include <memory>

#include "event_log.h"

namespace bvs {

/// The watch runs for at most `timeout_ms`, and ends sooner once the window has come and gone.
/// Logs "progress" for every text shown ("text", the text's "text_width" and "text_height" in
/// the label's own font, the label's "label_width" and "label_height", the "bar" position of
/// "bar_max" and whether it is "moving", whether "cancel_enabled", the screen's "dpi"),
/// "progress_cancel" for the press (whether the viewer's window kept the foreground and, while
/// the progress window is still there, whether its thread made it active or gave it the focus)
/// and "progress_gone".
class ProgressWatch {
public:
    /// Null when the thread cannot start.
    static std::unique_ptr<ProgressWatch> start(EventLog& log, HWND main, bool press_cancel,
                                                DWORD timeout_ms);
    /// Ends the watch and waits for its thread: nothing writes to the log after this.
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    struct State;

private:
    ProgressWatch() = default;
    std::unique_ptr<State> state_;
    HANDLE thread_ = nullptr;
};

}  // namespace bvs
