// ifc2snapshot: converts an IFC file into the model snapshot that the substitute viewer loads.
//
//   ifc2snapshot [--pretty] [--verbose] [--quiet] [--allow-dangling] IN.ifc OUT.json
//
// Exit status 0 on success, 1 when the file cannot be converted (nothing is written then),
// 2 on wrong usage.
#include "converter.h"
#include "snapshot.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

void usage() {
    std::fputs("usage: ifc2snapshot [--pretty] [--verbose] [--quiet] [--allow-dangling] IN.ifc OUT.json\n"
               "  Reads an IFC2X3 or IFC4 STEP file and writes the viewer's model snapshot (JSON).\n"
               "  --pretty          indent the JSON\n"
               "  --verbose         list every message of the IFC reader and the geometry converter\n"
               "  --quiet           print nothing on success\n"
               "  --allow-dangling  convert even when relationships name objects missing from the file\n",
               stderr);
}

int run(int argc, char** argv) {
    bool pretty = false, verbose = false, quiet = false;
    ifc2snapshot::ConversionOptions options;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pretty") pretty = true;
        else if (arg == "--verbose") verbose = true;
        else if (arg == "--quiet") quiet = true;
        else if (arg == "--allow-dangling") options.allow_dangling = true;
        else if (arg == "-h" || arg == "--help") { usage(); return 0; }
        else if (!arg.empty() && arg[0] == '-' && arg != "-") { usage(); return 2; }
        else paths.push_back(arg);
    }
    if (paths.size() != 2) {
        usage();
        return 2;
    }
    const std::string& in = paths[0];
    const std::string& out = paths[1];

    ifc2snapshot::ConversionStats stats;
    std::string json;
    try {
        const ifc2snapshot::Snapshot snapshot = ifc2snapshot::convert_ifc_file(in, &stats, options);
        json = ifc2snapshot::to_json(snapshot, pretty);
    } catch (const ifc2snapshot::MissingObjectsError& e) {
        std::fprintf(stderr, "ifc2snapshot: cannot convert %s: %s; --allow-dangling converts what is there\n", in.c_str(),
                     e.what());
        return 1;
    } catch (const ifc2snapshot::ReadError& e) {
        std::fprintf(stderr, "ifc2snapshot: cannot convert %s: %s\n", in.c_str(), e.what());
        return 1;
    }
    try {
        ifc2snapshot::write_file_atomically(out, json);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ifc2snapshot: %s\n", e.what());
        return 1;
    }
    if (verbose)
        for (const auto& m : stats.messages) std::fprintf(stderr, "ifc2snapshot: %s: %s\n", in.c_str(), m.c_str());
    if (!quiet) {
        for (const auto& w : stats.warnings) std::fprintf(stderr, "ifc2snapshot: %s: warning: %s\n", in.c_str(), w.c_str());
        if (const std::string line = ifc2snapshot::describe_unresolved(stats); !line.empty())
            std::fprintf(stderr, "ifc2snapshot: %s: %s\n", in.c_str(), line.c_str());
        const size_t to_send = stats.with_guid - stats.spatial_containers;
        std::fprintf(stderr,
                     "ifc2snapshot: %s -> %s: %zu objects (%zu with a GUID, %zu spatial containers, %zu to send), "
                     "%zu with a mesh (%zu closed, %zu of them once faces were turned, %zu once T-junctions were "
                     "joined), volume from %zu closed meshes and %zu quantity sets, area from %zu meshes and %zu "
                     "quantity sets, %zu messages\n",
                     in.c_str(), out.c_str(), stats.objects, stats.with_guid, stats.spatial_containers, to_send,
                     stats.with_mesh, stats.closed_mesh, stats.closed_by_turning, stats.closed_by_joining, stats.closed_mesh,
                     stats.volume_from_quantities, stats.with_mesh, stats.area_from_quantities, stats.messages.size());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ifc2snapshot: internal error: %s\n", e.what());
    } catch (...) {
        // The IFC and mesh libraries throw their own types too.
        std::fputs("ifc2snapshot: internal error in the IFC library\n", stderr);
    }
    return 1;
}
