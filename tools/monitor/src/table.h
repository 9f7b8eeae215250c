// What the monitor's window shows: the list of received records (its columns and the text of
// each cell) and the status line. Texts in Spanish, as everything a user sees; record texts are
// shown as KESTRO reads them, in Windows-1252. Portable: the window side only displays them.
#pragma once

#include <cstdint>
#include <string>

#include "records.h"

namespace monitor {

/// One row of the list: a received record and where it came from.
struct Row {
    Record record;
    Properties properties;
    std::uintptr_t viewer = 0;  // the viewer window that came with the message (wParam)
    unsigned long long message = 0;  // the message's sequence number
};

struct Column {
    const wchar_t* title;
    int width;
};
inline constexpr Column columns[] = {
    {L"Mensaje", 60}, {L"GUID", 170}, {L"Nombre", 170},      {L"Entidad", 120}, {L"Tipo", 120},
    {L"Ficheros", 110}, {L"dx", 55},  {L"dy", 55},           {L"dz", 55},       {L"C\u00F3digo", 60},
    {L"Volumen", 80},  {L"\u00C1rea", 80}, {L"Propiedades", 400}};
inline constexpr int column_count = static_cast<int>(sizeof columns / sizeof columns[0]);

/// The text of one cell; an unknown column gives an empty text.
std::wstring cell_text(const Row& row, int column);

/// The status line: before the first message, after one, and after a GUID was sent.
std::wstring status_waiting();
std::wstring status_received(unsigned long long number, const Message& message, std::uint64_t cb_data,
                             std::uintptr_t viewer);
std::wstring status_guid_sent(const std::string& guid, std::uintptr_t viewer, bool delivered,
                              std::uint64_t result, unsigned timeout_seconds);

/// Why a message was rejected, in Spanish.
std::wstring rejection_text(const Rejection& rejection);

}  // namespace monitor
