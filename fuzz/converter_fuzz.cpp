// The IFC converter on arbitrary STEP text: read, convert (geometry included) and written as a
// snapshot. A file it cannot convert must be refused with a ReadError; anything else that
// escapes, and every crash, is a finding.
#include "converter.h"
#include "ifc_reader.h"
#include "snapshot.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::string content(reinterpret_cast<const char*>(data), size);
    try {
        ifc2snapshot::ReadModel read = ifc2snapshot::read_ifc_content(std::move(content));
        ifc2snapshot::ConversionOptions options;
        options.allow_dangling = true;  // go on past missing objects: more of the converter runs
        ifc2snapshot::ConversionStats stats;
        const ifc2snapshot::Snapshot snapshot = ifc2snapshot::convert_model(read, "fuzz.ifc", &stats, options);
        const std::string json = ifc2snapshot::to_json(snapshot, false);
        if (json.empty() || json.front() != '{') std::abort();
    } catch (const ifc2snapshot::ReadError&) {
        // refused with a message: what the tool does with a file it cannot convert
    }
    return 0;
}
