// Messages the monitor sends to the viewer: GUID requests (through the integrator's header, as
// KESTRO would send them) and hostile variants of them, each logged.
#pragma once

#include "app.h"

namespace monitor {

struct SendResult {
    bool delivered;
    DWORD_PTR result;
};

/// WM_COPYDATA with the given fields; waits at most send_timeout_ms, answering messages sent to
/// this thread meanwhile.
SendResult send_copydata(HWND to, HWND from, ULONG_PTR dw_data, DWORD cb_data, const void* data);

/// A GUID request to `viewer`, logged and shown in the first window's status line.
void send_guid(HWND viewer, HWND from, const std::string& guid);

/// Runs one queued send; a row or GUID without a known viewer window is logged as an error.
void run_action(const Action& action);

}  // namespace monitor
