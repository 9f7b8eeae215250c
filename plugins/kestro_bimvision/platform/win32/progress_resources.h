// Resource ids shared by module.rc and the code. Plain macros: the resource compiler reads this.
#pragma once

// The manifest of the progress window's activation context (common controls 6). Not 2: a
// module's manifest 2 would bind its imports at load time, and not 1, which is a program's.
#define KB_CONTROLS_MANIFEST 3
