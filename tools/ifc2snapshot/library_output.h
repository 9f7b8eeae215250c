// What the IFC and mesh libraries print themselves (diagnostics written straight to the
// standard output and error streams) is kept out of the tool's own output.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace ifc2snapshot {

/// While alive, whatever the process writes to its standard output and standard error goes to
/// a temporary file. finish() (or the destructor) puts both streams back; finish() hands the
/// captured lines over as messages, the first ones in full and the rest as a count.
class LibraryOutput {
public:
    LibraryOutput();
    ~LibraryOutput();
    LibraryOutput(const LibraryOutput&) = delete;
    LibraryOutput& operator=(const LibraryOutput&) = delete;

    void finish(std::vector<std::string>& messages);

private:
    void restore();

    std::FILE* capture_ = nullptr;
    int saved_out_ = -1;
    int saved_err_ = -1;
};

} // namespace ifc2snapshot
