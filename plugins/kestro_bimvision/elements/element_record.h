// The 12336-byte element record and the block of records of one transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/plugin.h"

namespace kb {

/// One element as the peer receives it. Texts are 8-bit, zero-terminated within their field.
struct ElementRecord {
    char guid[100];
    char texto[1000];
    char entidad[100];
    char tipo[100];
    char ficheros[1000];
    unsigned char gap1[4];
    double dx;
    double dy;
    double dz;
    std::int32_t codigo;
    char propiedad[10000];
    unsigned char gap2[4];
};

inline constexpr std::size_t element_record_size = 12336;

static_assert(sizeof(ElementRecord) == element_record_size, "element record is 0x3030 bytes");
static_assert(offsetof(ElementRecord, guid) == 0);
static_assert(offsetof(ElementRecord, texto) == 100);
static_assert(offsetof(ElementRecord, entidad) == 1100);
static_assert(offsetof(ElementRecord, tipo) == 1200);
static_assert(offsetof(ElementRecord, ficheros) == 1300);
static_assert(offsetof(ElementRecord, gap1) == 2300);
static_assert(offsetof(ElementRecord, dx) == 2304);
static_assert(offsetof(ElementRecord, dy) == 2312);
static_assert(offsetof(ElementRecord, dz) == 2320);
static_assert(offsetof(ElementRecord, codigo) == 2328);
static_assert(offsetof(ElementRecord, propiedad) == 2332);
static_assert(offsetof(ElementRecord, gap2) == 12332);

/// The records of one transfer, back to back, with their count and byte total.
struct RecordBlock {
    std::unique_ptr<unsigned char[]> bytes;  // count * 12336 bytes (may be null when count is 0)
    std::uint32_t count = 0;
    std::uint32_t total = 0;
    /// False when the block could not be obtained: nothing was built and nothing may be sent.
    bool ok = true;
    /// The records the lists asked for, also when the block could not be had (then count is 0).
    std::size_t wanted = 0;
};

/// Packs every element list entry with a non-empty GUID into a record whose codigo is the
/// transfer's `request_code`; the propiedad field is the entry followed by the
/// "#VOLUMEN#..#AREA#.." text. The block is obtained once, at its final size, before any record
/// is written. The lists are only read: the caller releases them once the block is built.
RecordBlock build_element_records(const Plugin& plugin, std::int32_t request_code,
                                  const ElementLists& lists);

}  // namespace kb
