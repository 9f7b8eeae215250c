#include "options.h"

#include <cwchar>

#include "records.h"

namespace monitor {

namespace {

bool parse_number(const std::wstring& text, long long& out) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    out = std::wcstoll(text.c_str(), &end, 10);
    return end && *end == L'\0';
}

}  // namespace

const char usage[] =
    "usage: KESTRO_monitor.exe [--out FILE.jsonl] [--windows N] [--send-guid GUID] [--send-row N]\n"
    "         [--send-raw null|nonul|long|empty|bare] [--send-after N] [--quit-after N] [--timeout MS]\n"
    "         [--screenshot FILE.bmp] [--answer-inside once|always] [--stall SECONDS [--stall-until FILE]] [--exit-inside N]\n"
    "         [--slow-inside MS [--slow-until FILE]] [--stack-mb MB]\n"
    "       KESTRO_monitor.exe --send-raw-bytes N --to-class CLASS [--dwdata D] [--fill BYTE] [--repeat R]\n"
    "         [--out FILE.jsonl] [--timeout MS]\n"
    "       KESTRO_monitor.exe --close-monitors\n"
    "       KESTRO_monitor.exe --help\n";

const char help_text[] =
    "Stands in for KESTRO: takes the viewer plugin's element records by WM_COPYDATA, lists them\n"
    "decoded and sends GUIDs back (double-click a row). Its file name must contain KESTRO.\n"
    "Sender mode sends N raw bytes to the first window of CLASS; it looks for the window for\n"
    "--timeout MS (default 10000) and waits at most 60 s for each send.\n"
    "Exit codes: 0 ok; 2 bad command line; 3 --timeout ran out; 4 no window of the class (sender);\n"
    "  5 the windows could not be created; 6 internal error; 7 a send was not answered (sender);\n"
    "  8 left on purpose while taking message N (--exit-inside N).\n"
    "See tools/monitor/README.md.\n";

std::string to_latin1(const std::wstring& wide) {
    std::string out;
    for (wchar_t c : wide) out += static_cast<unsigned long>(c) <= 0xFF ? static_cast<char>(c) : '?';
    return out;
}

std::string describe(const ParseError& e) {
    std::string option = wide_to_utf8(e.option), value = wide_to_utf8(e.value);
    switch (e.kind) {
        case ParseError::unknown: return "unknown argument \"" + option + "\"";
        case ParseError::no_value: return option + " needs a value";
        case ParseError::not_a_number: return option + ": \"" + value + "\" is not a whole number";
        case ParseError::out_of_range: return option + ": " + value + " is out of range";
        case ParseError::bad_value: return option + ": \"" + value + "\" is not an accepted value";
        case ParseError::pairing: return "--send-raw-bytes and --to-class go together";
        default: return "bad command line";
    }
}

bool wants_help(const std::vector<std::wstring>& args) {
    for (const std::wstring& a : args)
        if (a == L"--help" || a == L"-h" || a == L"/?") return true;
    return false;
}

bool parse_options(const std::vector<std::wstring>& args, Options& o, ParseError& parse_error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        // A refusal after a value was read blames that value; before, the missing value.
        auto value = [&](std::wstring& out) {
            parse_error = {ParseError::no_value, a, L""};
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            parse_error = {ParseError::bad_value, a, out};
            return true;
        };
        auto number = [&](long long& out) {
            std::wstring text;
            if (!value(text)) return false;
            if (!parse_number(text, out)) {
                parse_error = {ParseError::not_a_number, a, text};
                return false;
            }
            parse_error = {ParseError::out_of_range, a, text};
            return true;
        };
        std::wstring text;
        long long n = 0;
        if (a == L"--out") {
            if (!value(o.out)) return false;
        } else if (a == L"--windows") {
            if (!number(n) || n < 1 || n > 16) return false;
            o.windows = static_cast<int>(n);
        } else if (a == L"--send-guid") {
            if (!value(text)) return false;
            o.after_first.push_back(Action{ActionKind::guid, to_latin1(text), 0, 0});
        } else if (a == L"--send-row") {
            if (!number(n) || n < 0) return false;
            o.after_first.push_back(Action{ActionKind::row, "", static_cast<int>(n), 0});
        } else if (a == L"--send-raw") {
            if (!value(text)) return false;
            std::string mode = to_latin1(text);
            if (mode != "null" && mode != "nonul" && mode != "long" && mode != "empty" && mode != "bare") return false;
            o.after_first.push_back(Action{ActionKind::raw, mode, 0, 0});
        } else if (a == L"--send-after") {
            if (!number(o.send_after) || o.send_after < 1) return false;
        } else if (a == L"--quit-after") {
            if (!number(o.quit_after) || o.quit_after < 0) return false;
        } else if (a == L"--timeout") {
            if (!number(o.timeout_ms) || o.timeout_ms < 0) return false;
        } else if (a == L"--screenshot") {
            if (!value(o.screenshot)) return false;
        } else if (a == L"--answer-inside") {
            if (!value(text)) return false;
            if (text == L"once")
                o.answer_inside = 1;
            else if (text == L"always")
                o.answer_inside = 2;
            else
                return false;
        } else if (a == L"--stall") {
            if (!number(o.stall_seconds) || o.stall_seconds < 0 || o.stall_seconds > 3600) return false;
        } else if (a == L"--stall-until") {
            if (!value(o.stall_until)) return false;
        } else if (a == L"--slow-until") {
            if (!value(o.slow_until)) return false;
        } else if (a == L"--stack-mb") {
            if (!number(o.stack_mb) || o.stack_mb < 1 || o.stack_mb > 4095) return false;
        } else if (a == L"--exit-inside") {
            if (!number(o.exit_inside) || o.exit_inside < 1) return false;
        } else if (a == L"--slow-inside") {
            if (!number(o.slow_inside_ms) || o.slow_inside_ms < 0 || o.slow_inside_ms > 3600000) return false;
        } else if (a == L"--close-monitors") {
            o.close_monitors = true;
        } else if (a == L"--send-raw-bytes") {
            if (!number(o.raw_bytes) || o.raw_bytes < 0 || o.raw_bytes > 0x7FFFFFFF) return false;
        } else if (a == L"--to-class") {
            if (!value(o.to_class)) return false;
        } else if (a == L"--dwdata") {
            if (!number(o.raw_dw_data) || o.raw_dw_data < 0) return false;
        } else if (a == L"--fill") {
            if (!number(n) || n < 0 || n > 255) return false;
            o.raw_fill = static_cast<int>(n);
        } else if (a == L"--repeat") {
            if (!number(n) || n < 1) return false;
            o.raw_repeat = static_cast<int>(n);
        } else {
            parse_error = {ParseError::unknown, a, L""};
            return false;
        }
    }
    if ((o.raw_bytes >= 0) != !o.to_class.empty()) {
        parse_error = {ParseError::pairing, L"", L""};
        return false;
    }
    return true;
}

}  // namespace monitor
