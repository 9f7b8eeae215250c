// A debug-output viewer in miniature: takes what programs pass to OutputDebugString through the
// system's DBWIN_BUFFER shared memory, as debug-output viewers on Windows do, and writes one line
// "PID TEXT" per message to a file (after a first line "ready"). Runs until it is ended.
//   usage: debug_output_listener.exe OUT.txt
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: debug_output_listener.exe OUT.txt\n");
        return 2;
    }
    // The protocol: the writer waits for BUFFER_READY, puts its process id and the text (8-bit,
    // zero-terminated) into the 4096-byte DBWIN_BUFFER and sets DATA_READY.
    HANDLE buffer_ready = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    HANDLE data_ready = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    if (!buffer_ready || !data_ready || !mapping || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "debug_output_listener: another debug-output viewer runs, or no shared memory\n");
        return 1;
    }
    const auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4096));
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!view || !out) {
        std::fprintf(stderr, "debug_output_listener: cannot map the buffer or write %s\n", argv[1]);
        return 1;
    }
    std::fputs("ready\n", out);
    std::fflush(out);
    SetEvent(buffer_ready);
    while (WaitForSingleObject(data_ready, INFINITE) == WAIT_OBJECT_0) {
        DWORD pid;
        std::memcpy(&pid, view, sizeof pid);
        const char* text = view + sizeof pid;
        std::size_t n = strnlen(text, 4096 - sizeof pid);
        while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) --n;
        std::fprintf(out, "%lu %.*s\n", static_cast<unsigned long>(pid), static_cast<int>(n), text);
        std::fflush(out);
        SetEvent(buffer_ready);
    }
    return 0;
}
