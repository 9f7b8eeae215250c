// A rectangle of the screen as it is now, as an image: the viewer's `screenshot` action and the
// installer tests' UI driver take their pictures this way; the KESTRO monitor copies from its
// window's own device context.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "image_file.h"

namespace bvs {

/// Copies the `width` x `height` rectangle at (x, y) of the device context `source` into `image`;
/// false when it is empty or the system refuses.
bool copy_from_dc(HDC source, int x, int y, int width, int height, Image& image);

/// Copies `rc` (screen coordinates, not empty) into `image`; false when the system refuses.
bool copy_from_screen(const RECT& rc, Image& image);

}  // namespace bvs
