#include "library_output.h"

#include <iostream>
#include <unistd.h>

namespace ifc2snapshot {
namespace {

constexpr size_t lines_kept = 20;

void flush_all() {
    std::cout.flush();
    std::wcout.flush();
    std::cerr.flush();
    std::wcerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}

} // namespace

LibraryOutput::LibraryOutput() {
    flush_all();
    capture_ = std::tmpfile();
    if (!capture_) capture_ = std::fopen("/dev/null", "w");
    if (!capture_) return;
    saved_out_ = ::dup(STDOUT_FILENO);
    saved_err_ = ::dup(STDERR_FILENO);
    const int fd = ::fileno(capture_);
    if (saved_out_ >= 0) ::dup2(fd, STDOUT_FILENO);
    if (saved_err_ >= 0) ::dup2(fd, STDERR_FILENO);
}

LibraryOutput::~LibraryOutput() {
    restore();
    if (capture_) std::fclose(capture_);
}

void LibraryOutput::restore() {
    flush_all();
    if (saved_out_ >= 0) {
        ::dup2(saved_out_, STDOUT_FILENO);
        ::close(saved_out_);
        saved_out_ = -1;
    }
    if (saved_err_ >= 0) {
        ::dup2(saved_err_, STDERR_FILENO);
        ::close(saved_err_);
        saved_err_ = -1;
    }
}

void LibraryOutput::finish(std::vector<std::string>& messages) {
    restore();
    if (!capture_) return;
    std::rewind(capture_);
    size_t lines = 0;
    std::string line;
    auto take = [&] {
        if (line.empty()) return;
        if (++lines <= lines_kept) messages.push_back("IFC library: " + line);
        line.clear();
    };
    for (int c; (c = std::fgetc(capture_)) != EOF;) {
        if (c == '\n' || c == '\r') take();
        else if (line.size() < 400) line += static_cast<char>(c);
    }
    take();
    if (lines > lines_kept)
        messages.push_back("IFC library: " + std::to_string(lines - lines_kept) + " more lines like these");
    std::fclose(capture_);
    capture_ = nullptr;
}

} // namespace ifc2snapshot
