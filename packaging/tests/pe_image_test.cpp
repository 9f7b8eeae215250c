// The installer's viewer check on PE images built here byte by byte.
#include "pe_image.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using viewer_check::Verdict;

void put16(std::vector<unsigned char>& f, std::size_t at, std::uint32_t v) {
    f[at] = v & 0xff;
    f[at + 1] = (v >> 8) & 0xff;
}
void put32(std::vector<unsigned char>& f, std::size_t at, std::uint32_t v) {
    put16(f, at, v & 0xffff);
    put16(f, at + 2, v >> 16);
}

/// An executable with one section at RVA 0x1000 (file offset 0x400) holding the export directory.
std::vector<unsigned char> make_pe(std::uint16_t machine, bool plus, const std::vector<std::string>& names) {
    std::vector<unsigned char> f(0x400 + 0x1000, 0);
    f[0] = 'M';
    f[1] = 'Z';
    put32(f, 0x3c, 0x40);
    std::memcpy(&f[0x40], "PE\0\0", 4);
    const std::size_t coff = 0x44, optional = coff + 20;
    const std::uint32_t optional_size = plus ? 240 : 224, directories = plus ? 112 : 96;
    put16(f, coff, machine);
    put16(f, coff + 2, 1);
    put16(f, coff + 16, optional_size);
    put16(f, optional, plus ? 0x20b : 0x10b);
    put32(f, optional + directories - 4, 16);
    put32(f, optional + directories, 0x1000);
    put32(f, optional + directories + 4, 0x1000);
    const std::size_t section = optional + optional_size;
    std::memcpy(&f[section], ".edata", 6);
    put32(f, section + 8, 0x1000);   // virtual size
    put32(f, section + 12, 0x1000);  // RVA
    put32(f, section + 16, 0x1000);  // raw size
    put32(f, section + 20, 0x400);   // raw offset
    put32(f, 0x400 + 24, static_cast<std::uint32_t>(names.size()));
    put32(f, 0x400 + 32, 0x1040);  // the name pointers
    std::uint32_t text = 0x1200;
    for (std::size_t i = 0; i < names.size(); ++i) {
        put32(f, 0x400 + 0x40 + 4 * i, text);
        std::memcpy(&f[0x400 + (text - 0x1000)], names[i].c_str(), names[i].size() + 1);
        text += static_cast<std::uint32_t>(names[i].size() + 1);
    }
    return f;
}

std::vector<std::string> host_names() {
    // Other exports first: cutting the file anywhere in the names then loses a required one.
    std::vector<std::string> names = {"apply_select_rules", "zoom_to_selected"};
    for (const std::string& n : viewer_check::required_exports()) names.push_back(n);
    return names;
}

TEST(ViewerCheck, TellsA32BitViewerFromA64BitOneAndFromOtherExecutables) {
    auto image = viewer_check::read_pe(make_pe(viewer_check::machine_i386, false, host_names()));
    ASSERT_TRUE(image.valid);
    EXPECT_EQ(image.machine, viewer_check::machine_i386);
    EXPECT_EQ(image.exports, host_names());
    EXPECT_EQ(viewer_check::judge(image), Verdict::viewer32);

    // PE32+: the data directories sit 16 bytes further on.
    auto image64 = viewer_check::read_pe(make_pe(viewer_check::machine_amd64, true, host_names()));
    EXPECT_EQ(image64.exports, host_names());
    EXPECT_EQ(viewer_check::judge(image64), Verdict::viewer64);

    // One host function missing: some other program.
    std::vector<std::string> fewer = host_names();
    fewer.erase(fewer.begin() + 3);
    EXPECT_EQ(viewer_check::judge(viewer_check::read_pe(make_pe(viewer_check::machine_i386, false, fewer))),
              Verdict::no_viewer);
    // The names are compared whole and in case.
    std::vector<std::string> changed = host_names();
    changed[2] = "Get_all_objects";
    EXPECT_EQ(viewer_check::judge(viewer_check::read_pe(make_pe(viewer_check::machine_i386, false, changed))),
              Verdict::no_viewer);
    // An ARM executable with the exports is no viewer this module can go into.
    EXPECT_EQ(viewer_check::judge(viewer_check::read_pe(make_pe(0x1c4, false, host_names()))), Verdict::no_viewer);
}

TEST(ViewerCheck, DamagedFilesAreNoViewerAndNeverReadOutOfBounds) {
    EXPECT_FALSE(viewer_check::read_pe({}).valid);
    std::vector<unsigned char> text(4096, 'x');
    EXPECT_FALSE(viewer_check::read_pe(text).valid);

    const std::vector<unsigned char> good = make_pe(viewer_check::machine_i386, false, host_names());
    // Every cut of the file up to the last name's terminator: headers cut give an invalid image,
    // names cut a shorter list.
    std::size_t end = 0x600;
    for (const std::string& name : host_names()) end += name.size() + 1;
    for (std::size_t n = 0; n < end; ++n) {
        std::vector<unsigned char> cut(good.begin(), good.begin() + n);
        auto image = viewer_check::read_pe(cut);
        EXPECT_LE(image.exports.size(), host_names().size());
        EXPECT_NE(viewer_check::judge(image), Verdict::viewer32) << n;
    }

    // The PE header offset and the name pointers pointing far outside the file.
    std::vector<unsigned char> wild = good;
    put32(wild, 0x3c, 0xfffffff0u);
    EXPECT_FALSE(viewer_check::read_pe(wild).valid);
    wild = good;
    put32(wild, 0x400 + 0x40, 0xfffffff0u);  // first name
    auto image = viewer_check::read_pe(wild);
    EXPECT_TRUE(image.valid);
    EXPECT_TRUE(image.exports.empty());
    wild = good;
    put32(wild, 0x400 + 24, 0x7fffffffu);  // a name count far beyond the table
    EXPECT_EQ(viewer_check::judge(viewer_check::read_pe(wild)), Verdict::viewer32);
}

}  // namespace
