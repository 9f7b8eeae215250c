// A rectangle of the screen as it is now, as an image: the viewer's `screenshot` action and the
// installer tests' UI driver take their pictures this way.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "image_file.h"

namespace bvs {

/// Copies `rc` (screen coordinates, not empty) into `image`; false when the system refuses.
bool copy_from_screen(const RECT& rc, Image& image);

}  // namespace bvs
