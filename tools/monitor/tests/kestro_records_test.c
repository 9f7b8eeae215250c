/* The integrator's header as an integrator uses it, in C (and, through kestro_records_test.cpp,
 * in C++). The record layout is checked by the header's own static assertions when this file
 * compiles; here run the property split, the character table and, on Windows, the GUID request.
 * Exits 0 when every check holds, 1 with a line per failed check otherwise. */
#include "kestro_records.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int condition, const char *what, int line) {
    if (!condition) {
        printf("line %d: %s\n", line, what);
        ++failures;
    }
}
#define CHECK(condition) check((condition) != 0, #condition, __LINE__)

/* The pairs of `text` joined as "name=value;" into `out`. */
static void split(const char *text, char *out, size_t size) {
    const char *p = text;
    const char *end = text + strlen(text);
    kestro_property pair;
    size_t n = 0;
    out[0] = '\0';
    while (kestro_next_property(&p, end, &pair)) {
        int written = sprintf(out + n, "%.*s=%.*s;", (int)pair.name_length, pair.name, (int)pair.value_length,
                              pair.value);
        n += (size_t)written;
        if (n + 64 > size) break;
    }
}

static void property_split(void) {
    char out[256];
    split("#Width#0.200000#Material#Hormig\xf3n#VOLUMEN#3.000000#AREA#15.000000", out, sizeof out);
    CHECK(strcmp(out, "Width=0.200000;Material=Hormig\xf3n;VOLUMEN=3.000000;AREA=15.000000;") == 0);
    split("#VOLUMEN#0.000000#AREA#0.000000", out, sizeof out);
    CHECK(strcmp(out, "VOLUMEN=0.000000;AREA=0.000000;") == 0);
    split("", out, sizeof out);
    CHECK(strcmp(out, "") == 0);
    /* Empty values, a name without value, a '#' inside a value splits it. */
    split("#Empty##Odd", out, sizeof out);
    CHECK(strcmp(out, "Empty=;Odd=;") == 0);
    split("#Ref#A#B#VOLUMEN#1#AREA#2", out, sizeof out);
    CHECK(strcmp(out, "Ref=A;B=VOLUMEN;1=AREA;2=;") == 0);
}

static void record_fields(void) {
    static kestro_record record; /* zero */
    const char *p;
    const char *end;
    kestro_property pair;
    memcpy(record.guid, "2O2Fr$t4X7Zf8NOew3FLOH", 22);
    memset(record.texto, 'x', sizeof record.texto); /* no terminator */
    CHECK(kestro_text_length(record.guid, sizeof record.guid) == 22);
    CHECK(kestro_text_length(record.texto, sizeof record.texto) == sizeof record.texto);
    CHECK(kestro_text_length(record.tipo, sizeof record.tipo) == 0);
    CHECK(KESTRO_REQUEST_SELECTION == 1024 && KESTRO_REQUEST_DRAG == 1025 && KESTRO_REQUEST_UPDATE == 1026);
    CHECK(kestro_message_is_well_formed(0, 0));
    CHECK(kestro_message_is_well_formed(3, 3 * 12336));
    CHECK(!kestro_message_is_well_formed(1, 12335));
    CHECK(!kestro_message_is_well_formed(0, 200));
    /* The split stops at the end it is given, not at the field's end. */
    memcpy(record.propiedad, "#A#1#B#2", 8);
    p = record.propiedad;
    end = p + kestro_text_length(record.propiedad, sizeof record.propiedad);
    CHECK(kestro_next_property(&p, end, &pair) && pair.name_length == 1 && pair.value[0] == '1');
    CHECK(kestro_next_property(&p, end, &pair) && pair.name[0] == 'B' && pair.value_length == 1);
    CHECK(!kestro_next_property(&p, end, &pair));
}

static void windows_1252(void) {
    /* The 27 characters Windows-1252 adds to Latin-1, in the order of their bytes from 0x80. */
    static const unsigned expected[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                          0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    unsigned b;
    for (b = 0; b < 256; ++b) {
        unsigned want = b >= 0x80 && b <= 0x9F ? expected[b - 0x80] : b;
        if (kestro_char_to_unicode((unsigned char)b) != want) {
            printf("byte 0x%02X gives U+%04X, not U+%04X\n", b, kestro_char_to_unicode((unsigned char)b), want);
            ++failures;
        }
    }
}

#ifdef _WIN32
static char received[128];
static DWORD received_size;
static ULONG_PTR received_dw_data = 99;
static WPARAM received_from;

static LRESULT CALLBACK viewer_proc(HWND hwnd, UINT message, WPARAM w_param, LPARAM l_param) {
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT *cds = (const COPYDATASTRUCT *)l_param;
        received_size = cds->cbData;
        received_dw_data = cds->dwData;
        received_from = w_param;
        if (cds->cbData <= sizeof received) memcpy(received, cds->lpData, cds->cbData);
        return 7;
    }
    return DefWindowProcW(hwnd, message, w_param, l_param);
}

static void guid_request(void) {
    WNDCLASSW wc;
    HWND viewer;
    DWORD_PTR result = 0;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = viewer_proc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = L"KestroRecordsTestViewer";
    CHECK(RegisterClassW(&wc) != 0);
    viewer = CreateWindowW(L"KestroRecordsTestViewer", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    CHECK(viewer != NULL);
    CHECK(kestro_send_guid_request(viewer, (HWND)(UINT_PTR)0x1234, "2O2Fr$t4X7Zf8NOew3FLOH", 5000, &result));
    CHECK(received_size == 23);
    CHECK(memcmp(received, "2O2Fr$t4X7Zf8NOew3FLOH", 23) == 0); /* the text and its zero */
    CHECK(received_dw_data == 0);
    CHECK(received_from == 0x1234);
    CHECK(result == 7);
    CHECK(kestro_send_guid_request(viewer, NULL, "", 5000, NULL));
    CHECK(received_size == 1 && received[0] == '\0');
    DestroyWindow(viewer);
    CHECK(!kestro_send_guid_request(viewer, NULL, "x", 5000, &result)); /* the window is gone */
}
#endif

int main(void) {
    property_split();
    record_fields();
    windows_1252();
#ifdef _WIN32
    guid_request();
#endif
    if (failures) printf("%d check(s) failed\n", failures);
    else printf("kestro_records.h: every check holds\n");
    return failures ? 1 : 0;
}
