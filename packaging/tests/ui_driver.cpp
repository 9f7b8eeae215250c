// ui_driver.exe: plays a user at the installer's windows, for the interactive tests and the
// screenshots. Runs the steps given on its command line in order; the window a step acts on is
// the one the last `wait` found. Prints one line per step; exits 0 when all went through, 1 at
// the first step that failed (with the reason on stderr), 2 on a bad command line.
//
//   wait TITLE TEXT [MS]   a visible top-level window whose title holds TITLE and one of whose
//                          controls' text holds TEXT ("" for any), within MS (default 30000)
//   gone MS                the current window has closed, within MS
//   click BUTTON           presses a button: BUTTON is its text ('&' ignored) or, all digits, its
//                          control id (a message box's buttons carry IDOK 1, IDCANCEL 2,
//                          IDRETRY 4, whatever the system's language)
//   default BUTTON         checks that BUTTON is the default button
//   edit TEXT              puts TEXT into the first edit control
//   read                   prints the text of every control
//   shot FILE.png          saves the window as it is on the screen
//   sleep MS
// A step goes on once the window has taken in the one before (see `in_step`), not after a fixed
// pause; only `shot` leaves the window a moment to paint first. Under emulation
// (KB_WINE_TIME_FACTOR, see tests/common/wine_time.h) the limits of `wait` and `gone`, and that
// moment, are that many times longer; `sleep` is not.
#include "image_file.h"
#include "screen_copy.h"
#include "wine_time.h"
#include "window_common.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bvs::utf8;

// How long a window may take to answer a message before it counts as hung.
const DWORD answer_ms = kbtest::time_limit_ms(5000);

std::wstring text_of(HWND window) {
    // WM_GETTEXT with a time-out: a hung installer must not hang the driver.
    wchar_t buffer[4096] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, answer_ms,
                             &copied))
        return {};
    return std::wstring(buffer, static_cast<std::size_t>(copied));
}

std::wstring without_ampersands(std::wstring text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L'&') out += c;
    return out;
}

BOOL CALLBACK collect_child(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<HWND> controls(HWND window) {
    std::vector<HWND> found;
    EnumChildWindows(window, collect_child, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring class_of(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

struct Search {
    std::wstring title, text;
    HWND found = nullptr;
};

BOOL CALLBACK match_window(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    if (!IsWindowVisible(window) || text_of(window).find(s->title) == std::wstring::npos) return TRUE;
    if (!s->text.empty()) {
        bool has = false;
        for (HWND c : controls(window))
            if (IsWindowVisible(c) && text_of(c).find(s->text) != std::wstring::npos) has = true;
        if (!has) return TRUE;
    }
    s->found = window;
    return FALSE;
}

HWND find_window(const std::wstring& title, const std::wstring& text) {
    Search search{title, text};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND find_button(HWND window, const std::wstring& wanted) {
    if (window == nullptr) return nullptr;
    if (!wanted.empty() && wanted.find_first_not_of(L"0123456789") == std::wstring::npos)
        return GetDlgItem(window, _wtoi(wanted.c_str()));
    for (HWND c : controls(window))
        if (IsWindowVisible(c) && _wcsicmp(class_of(c).c_str(), L"Button") == 0 &&
            without_ampersands(text_of(c)) == wanted)
            return c;
    return nullptr;
}

bool save_png(HWND window, const std::wstring& path) {
    // The client area: without a window manager under Xvfb no frame is drawn around it.
    RECT rc{};
    if (!GetClientRect(window, &rc)) return false;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    bvs::Image image;
    if (!bvs::copy_from_screen(rc, image)) return false;
    std::vector<std::uint8_t> bytes = bvs::encode_png(image);
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Returns once the thread of `window` has gone back to its messages: a message sent to it is taken
// only there. A window that has closed meanwhile counts as done. False when it takes none for
// `answer_ms`.
bool in_step(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, answer_ms, &result) != 0 || !IsWindow(window);
}

int fail(const std::string& why) {
    std::fprintf(stderr, "ui_driver: %s\n", why.c_str());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    HWND window = nullptr;
    const DWORD paint_ms = kbtest::time_limit_ms(300);  // for a window to paint before a shot
    for (std::size_t i = 0; i < args.size();) {
        const std::wstring step = args[i++];
        auto next = [&](std::wstring& out) {
            if (i >= args.size()) return false;
            out = args[i++];
            return true;
        };
        auto number = [&](DWORD fallback) {
            if (i < args.size() && !args[i].empty() && iswdigit(args[i][0])) return static_cast<DWORD>(_wtoi(args[i++].c_str()));
            return fallback;
        };
        std::wstring a, b;
        if (step == L"wait" && next(a) && next(b)) {
            DWORD limit = kbtest::time_limit_ms(number(30000)), start = GetTickCount();
            while ((window = find_window(a, b)) == nullptr) {
                if (GetTickCount() - start > limit)
                    return fail("no window \"" + utf8(a.c_str()) + "\" showing \"" + utf8(b.c_str()) + "\"");
                Sleep(100);
            }
            if (!in_step(window)) return fail("the window takes no messages");
            std::printf("window \"%s\"\n", utf8(text_of(window).c_str()).c_str());
        } else if (step == L"gone") {
            DWORD limit = kbtest::time_limit_ms(number(30000)), start = GetTickCount();
            while (window != nullptr && IsWindow(window) && IsWindowVisible(window)) {
                if (GetTickCount() - start > limit) return fail("the window is still open");
                Sleep(100);
            }
            std::printf("gone\n");
        } else if (step == L"click" && next(a)) {
            HWND button = find_button(window, a);
            if (button == nullptr) return fail("no button \"" + utf8(a.c_str()) + "\"");
            if (!IsWindowEnabled(button)) return fail("button \"" + utf8(a.c_str()) + "\" is disabled");
            // Posted: the click may open a message box that waits for the next step. A thread
            // takes the messages sent to it before those posted, so the second message sent after
            // it is taken once the click has been handled, or from within the box's own loop.
            const std::string name = utf8(without_ampersands(text_of(button)).c_str());
            HWND parent = GetParent(button);
            PostMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
            if (!in_step(parent) || !in_step(parent)) return fail("the window did not take the click");
            std::printf("clicked \"%s\"\n", name.c_str());
        } else if (step == L"default" && next(a)) {
            HWND button = find_button(window, a);
            if (button == nullptr) return fail("no button \"" + utf8(a.c_str()) + "\"");
            // The button drawn as the default one (BS_DEFPUSHBUTTON), which Enter presses: Wine's
            // message box keeps its template's id for DM_GETDEFID, so that cannot tell.
            bool is_default = (GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
            if (!is_default) return fail("\"" + utf8(a.c_str()) + "\" is not the default button");
            std::printf("default \"%s\"\n", utf8(without_ampersands(text_of(button)).c_str()).c_str());
        } else if (step == L"edit" && next(a)) {
            HWND edit = nullptr;
            for (HWND c : window ? controls(window) : std::vector<HWND>{})
                if (edit == nullptr && _wcsicmp(class_of(c).c_str(), L"Edit") == 0 && IsWindowVisible(c)) edit = c;
            if (edit == nullptr) return fail("no edit control");
            DWORD_PTR result = 0;
            SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.c_str()), SMTO_ABORTIFHUNG, answer_ms,
                                &result);
            std::printf("edit \"%s\"\n", utf8(a.c_str()).c_str());
        } else if (step == L"read") {
            if (window == nullptr) return fail("no window to read");
            for (HWND c : controls(window))
                if (IsWindowVisible(c) && !text_of(c).empty())
                    std::printf("text %s \"%s\"\n", utf8(class_of(c).c_str()).c_str(),
                                utf8(text_of(c).c_str()).c_str());
        } else if (step == L"shot" && next(a)) {
            if (window != nullptr) Sleep(paint_ms);  // let it finish painting
            if (window == nullptr || !save_png(window, a)) return fail("cannot save " + utf8(a.c_str()));
            std::printf("shot %s\n", utf8(a.c_str()).c_str());
        } else if (step == L"sleep") {
            Sleep(number(1000));
        } else {
            return std::fprintf(stderr, "ui_driver: bad step \"%s\"\n", utf8(step.c_str()).c_str()), 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
