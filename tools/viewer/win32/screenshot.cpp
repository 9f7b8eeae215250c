// The `screenshot` action and --screenshot: the whole viewer window as it is on the screen, saved
// as BMP, or PNG when the file name ends in ".png".
#include "file_io.h"
#include "image_file.h"
#include "screen_copy.h"
#include "viewer_app.h"
#include "window_common.h"

namespace bvs {

bool ViewerApp::do_screenshot(const std::u16string& path) {
    RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rc;
    GetWindowRect(main_, &rc);
    int width = rc.right - rc.left, height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0) {
        error("screenshot: the window has no size");
        return false;
    }
    Image img;
    if (!copy_from_screen(rc, img)) {
        error("screenshot: cannot copy the window");
        return false;
    }
    std::vector<std::uint8_t> bytes = is_png_path(path) ? encode_png(img) : encode_bmp(img);
    if (!write_whole_file(path, bytes)) {
        error("screenshot: cannot write \"" + utf8(path) + "\"");
        return false;
    }
    log_.write({{"event", "screenshot"}, {"path", utf8(path)}, {"width", width},
                {"height", height}});
    return true;
}

}  // namespace bvs
