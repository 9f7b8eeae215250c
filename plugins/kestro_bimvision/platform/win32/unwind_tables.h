// The module's unwind tables and the unwinder linked into it (see unwind_tables.cpp).
#pragma once

namespace kb::win32 {

/// True when the unwinder linked into this module finds the frame description of `function`, a
/// function of this module: an exception thrown in the module can then be caught in it.
bool unwind_tables_are_own(const void* function);

}  // namespace kb::win32
