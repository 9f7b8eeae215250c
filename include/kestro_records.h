/*
 * kestro_records.h - what KESTRO receives from the viewer plugin kestro_bimvision_32.dll, and the
 * GUID request it may send back. Plain C (C89 with a C99 <stdint.h>, or C++), no other
 * dependency; the GUID request needs <windows.h> and is only declared when _WIN32 is defined.
 * Shipped in the release archive's include folder; the project's docs/wire-format.md describes
 * the same format byte by byte, with an example record.
 *
 * Receiving: the viewer sends one WM_COPYDATA per transfer to the first top-level window of the
 * KESTRO process in the system's window order (hidden and tool windows count), so handle
 * WM_COPYDATA in every top-level window of the process:
 *
 *     case WM_COPYDATA: {
 *         const COPYDATASTRUCT *cds = (const COPYDATASTRUCT *)lParam;
 *         if (!kestro_message_is_well_formed(cds->dwData, cds->cbData)) return 0;
 *         const kestro_record *records = (const kestro_record *)cds->lpData;
 *         ... copy records[0 .. cds->dwData - 1] out, keep (HWND)wParam for GUID requests ...
 *         return 1;
 *     }
 *
 * lpData is only valid until the window procedure returns, and the viewer waits for it: copy the
 * records and return quickly. An update with no elements has dwData 0 and cbData 0.
 *
 * Texts are 8-bit Windows-1252, zero-terminated within their field (kestro_text_length tells
 * whether they are).
 */
#ifndef KESTRO_RECORDS_H
#define KESTRO_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The request code written into every record of a transfer: what triggered it. */
#define KESTRO_REQUEST_SELECTION 1024 /* the selection changed to exactly one element: that one */
#define KESTRO_REQUEST_DRAG 1025      /* something was dragged into the viewer: the selected elements */
#define KESTRO_REQUEST_UPDATE 1026    /* the ribbon button: every element of the model */

#define KESTRO_RECORD_SIZE 12336

/* One element. Little-endian; doubles and the code at their natural offsets. */
typedef struct kestro_record {
    char guid[100];        /*     0: the element's "Guid" (the 22-character IFC GlobalId) */
    char texto[1000];      /*   100: its "Name" */
    char entidad[100];     /*  1100: its "IfcEntity", e.g. IfcWallStandardCase */
    char tipo[100];        /*  1200: its "ObjectType" */
    char ficheros[1000];   /*  1300: every loaded IFC file, each followed by '#' */
    char unused_2300[4];   /*  2300: zero */
    double dx;             /*  2304: extent along x (maximum - minimum), model units */
    double dy;             /*  2312: extent along y */
    double dz;             /*  2320: extent along z */
    int32_t codigo;        /*  2328: KESTRO_REQUEST_SELECTION, _DRAG or _UPDATE */
    char propiedad[10000]; /*  2332: "#name#value" per property, then "#VOLUMEN#v#AREA#a" */
    char unused_12332[4];  /* 12332: zero */
} kestro_record;

#if defined(__cplusplus) && __cplusplus >= 201103L
#define KESTRO_STATIC_ASSERT(condition, name) static_assert(condition, #name)
#elif defined(_MSC_VER) && _MSC_VER >= 1600 && defined(__cplusplus)
#define KESTRO_STATIC_ASSERT(condition, name) static_assert(condition, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KESTRO_STATIC_ASSERT(condition, name) _Static_assert(condition, #name)
#else
/* Before C11: an array of negative size stops the compiler. */
#define KESTRO_STATIC_ASSERT(condition, name) typedef char kestro_assert_##name[(condition) ? 1 : -1]
#endif

KESTRO_STATIC_ASSERT(offsetof(kestro_record, guid) == 0, guid_at_0);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, texto) == 100, texto_at_100);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, entidad) == 1100, entidad_at_1100);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, tipo) == 1200, tipo_at_1200);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, ficheros) == 1300, ficheros_at_1300);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, unused_2300) == 2300, unused_at_2300);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, dx) == 2304, dx_at_2304);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, dy) == 2312, dy_at_2312);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, dz) == 2320, dz_at_2320);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, codigo) == 2328, codigo_at_2328);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, propiedad) == 2332, propiedad_at_2332);
KESTRO_STATIC_ASSERT(offsetof(kestro_record, unused_12332) == 12332, unused_at_12332);
KESTRO_STATIC_ASSERT(sizeof(double) == 8 && sizeof(int32_t) == 4, eight_byte_double);
KESTRO_STATIC_ASSERT(sizeof(kestro_record) == KESTRO_RECORD_SIZE, record_is_12336_bytes);

#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define KESTRO_INLINE static inline
#else
#define KESTRO_INLINE static __inline
#endif

/* Whether a WM_COPYDATA's dwData (record count) and cbData (bytes) describe a block of records. */
KESTRO_INLINE int kestro_message_is_well_formed(uint64_t dw_data, uint64_t cb_data) {
    /* dwData is 32 bits wide on the viewer's side: the product cannot overflow. */
    return dw_data <= 0xFFFFFFFFu && dw_data * KESTRO_RECORD_SIZE == cb_data;
}

/* The length of the text in a field of `width` bytes: the bytes before its zero, or `width`
 * when the field holds no zero (the viewer never sends that). */
KESTRO_INLINE size_t kestro_text_length(const char *field, size_t width) {
    size_t n = 0;
    while (n < width && field[n] != '\0') ++n;
    return n;
}

/* The character that a byte of 8-bit text stands for, as UTF-16/Unicode: Windows-1252, where
 * 0x80-0x9F hold the euro sign, typographic quotes, dashes and a few letters, and every other
 * byte is the code point of the same value. The five bytes that Windows-1252 leaves unassigned
 * (0x81, 0x8D, 0x8F, 0x90, 0x9D) also keep their value; the viewer never sends them for text
 * that had other characters. */
KESTRO_INLINE unsigned kestro_char_to_unicode(unsigned char byte) {
    static const unsigned short c1[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  /* 0x80 */
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  /* 0x88 */
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  /* 0x90 */
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178}; /* 0x98 */
    return byte >= 0x80 && byte <= 0x9F ? c1[byte - 0x80] : byte;
}

/* One "#name#value" pair of a propiedad text. The texts are not zero-terminated: they point into
 * the record. */
typedef struct kestro_property {
    const char *name;
    size_t name_length;
    const char *value;
    size_t value_length;
} kestro_property;

/* Reads the next pair of a propiedad text that ends at `end` (the text's zero byte, see
 * kestro_text_length) and moves *cursor past it. Returns 1 with the pair in *pair, 0 at the end.
 * Start with *cursor at the beginning of the field:
 *
 *     const char *p = r->propiedad;
 *     const char *end = p + kestro_text_length(r->propiedad, sizeof r->propiedad);
 *     kestro_property pair;
 *     while (kestro_next_property(&p, end, &pair))
 *         printf("%.*s = %.*s\n", (int)pair.name_length, pair.name,
 *                (int)pair.value_length, pair.value);
 *
 * Names and values are not escaped: a '#' inside one splits it. The last two pairs are always
 * VOLUMEN and AREA (the element's volume and area, "%f"). A name without a '#' after it has an
 * empty value. */
KESTRO_INLINE int kestro_next_property(const char **cursor, const char *end, kestro_property *pair) {
    const char *p = *cursor;
    if (p >= end) return 0;
    if (*p == '#') ++p;
    pair->name = p;
    while (p < end && *p != '#') ++p;
    pair->name_length = (size_t)(p - pair->name);
    if (p < end) ++p; /* the '#' between name and value */
    pair->value = p;
    while (p < end && *p != '#') ++p;
    pair->value_length = (size_t)(p - pair->value);
    *cursor = p; /* at the '#' that opens the next pair, or at the end */
    return 1;
}

#ifdef _WIN32
/* Asks the viewer to select and zoom to the element that carries `guid` (its "Guid" value, an
 * 8-bit text compared whole and case-sensitively; texts of 100 characters or more match nothing).
 * `viewer` is the window that came as wParam with the records; `from` goes as wParam (may be
 * null). Sends WM_COPYDATA with lpData = the text and its zero byte, cbData = length + 1,
 * dwData = 0, and waits at most `timeout_ms` for the viewer; this thread still answers messages
 * sent to it meanwhile. Returns nonzero when the viewer took the message; *result (may be null)
 * then holds the viewer's own answer to it, which says nothing about whether the element was
 * found. Call it from a posted message or a timer rather than from inside the handler of the
 * records: the viewer is still waiting in its send then. */
KESTRO_INLINE int kestro_send_guid_request(HWND viewer, HWND from, const char *guid, UINT timeout_ms,
                                           DWORD_PTR *result) {
    COPYDATASTRUCT cds;
    DWORD_PTR answer = 0;
    size_t length = 0;
    LRESULT sent;
    while (guid[length] != '\0') ++length;
    cds.dwData = 0;
    cds.cbData = (DWORD)(length + 1);
    cds.lpData = (PVOID)guid;
    sent = SendMessageTimeoutW(viewer, WM_COPYDATA, (WPARAM)from, (LPARAM)&cds, SMTO_NORMAL, timeout_ms, &answer);
    if (result) *result = answer;
    return sent != 0;
}
#endif

#ifdef __cplusplus
}
#endif

#endif /* KESTRO_RECORDS_H */
