#include "host_table.h"

namespace bv {

void bind_host_functions(HostFunctionTable& table, HostResolver resolve, void* context) {
    if (table.bound) return;
    table.bound = 1;  // set before any lookup, so a re-entrant call looks nothing up
    for (std::size_t i = 0; i < host_function_count; ++i)
        table.entry[i] = resolve(context, host_function_names[i]);
}

namespace {
// Zero-initialised before any code of the module runs: unbound, every entry null.
HostFunctionTable process_table;
}  // namespace

HostFunctionTable& host_table() { return process_table; }

}  // namespace bv
