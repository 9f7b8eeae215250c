// The installer's viewer check on PE images built here byte by byte, and its folder search on
// trees of such files.
#include "pe_image.h"
#include "viewer_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

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

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::vector<unsigned char>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class ViewerFolders : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("viewer_folders_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }
    void viewer32(const fs::path& exe) { write_file(exe, make_pe(viewer_check::machine_i386, false, host_names())); }
    fs::path root;
};

TEST_F(ViewerFolders, JudgesAFolderByItsExecutables) {
    using viewer_check::judge_folder;
    EXPECT_EQ(judge_folder(root / "missing"), Verdict::no_folder);
    EXPECT_EQ(judge_folder(root), Verdict::no_viewer);
    // A file named .exe that is no program, a program without the exports, a 64-bit viewer.
    write_file(root / "notes.exe", {'t', 'e', 'x', 't'});
    write_file(root / "tool.exe", make_pe(viewer_check::machine_i386, false, {"main"}));
    write_file(root / "app64.exe", make_pe(viewer_check::machine_amd64, true, host_names()));
    EXPECT_EQ(judge_folder(root), Verdict::viewer64);
    // The viewer's file is known by its exports, whatever its name; extensions in any case.
    viewer32(root / "Programa.EXE");
    EXPECT_EQ(judge_folder(root), Verdict::viewer32);
    // Only .exe files count, and only those in the folder itself.
    fs::remove(root / "Programa.EXE");
    viewer32(root / "library.dll");
    viewer32(root / "bin" / "app.exe");
    EXPECT_EQ(judge_folder(root), Verdict::viewer64);
}

TEST_F(ViewerFolders, SearchFindsViewersShallowestFirstAndNoDeeperThanThreeLevels) {
    const fs::path first = root / "pf";
    const fs::path second = root / "pf86";
    viewer32(second / "Visor" / "visor.exe");               // level 1 of the second root
    viewer32(first / "Zeta" / "z.exe");                     // level 1 of the first root
    viewer32(first / "Alfa" / "Visor IFC" / "app.exe");     // level 2
    viewer32(first / "Beta" / "x" / "bin" / "app.exe");     // level 3
    viewer32(first / "Gamma" / "a" / "b" / "c" / "app.exe");  // level 4: too deep
    write_file(first / "Sesenta" / "app.exe", make_pe(viewer_check::machine_amd64, true, host_names()));
    write_file(first / "Otro" / "tool.exe", make_pe(viewer_check::machine_i386, false, {"main"}));
    fs::create_directories(first / "Vacia");

    const std::vector<fs::path> found =
        viewer_check::find_viewer_folders({first, second, first, root / "missing"});
    const std::vector<fs::path> expected = {first / "Zeta", second / "Visor", first / "Alfa" / "Visor IFC",
                                            first / "Beta" / "x" / "bin"};
    EXPECT_EQ(found, expected);

    // A cap on the folders looked at ends the search early with what it has.
    viewer_check::SearchLimits few;
    few.folders = 3;  // pf, pf86, then pf's first subfolder
    EXPECT_TRUE(viewer_check::find_viewer_folders({first, second}, few).empty());
    few.depth = 0;
    few.folders = 100;
    EXPECT_TRUE(viewer_check::find_viewer_folders({first}, few).empty());
    EXPECT_EQ(viewer_check::find_viewer_folders({first / "Zeta"}, few), std::vector<fs::path>{first / "Zeta"});
}

TEST_F(ViewerFolders, SearchPassesOverLinks) {
    // A link back up (a loop) and a link to a viewer elsewhere: neither is followed.
    viewer32(root / "pf" / "a" / "app.exe");
    viewer32(root / "elsewhere" / "app.exe");
    std::error_code error;
    fs::create_directory_symlink(root / "pf", root / "pf" / "a" / "loop", error);
    fs::create_directory_symlink(root / "elsewhere", root / "pf" / "link", error);
    if (error) GTEST_SKIP() << "no symbolic links here";
    EXPECT_EQ(viewer_check::find_viewer_folders({root / "pf"}), std::vector<fs::path>{root / "pf" / "a"});
}

TEST_F(ViewerFolders, FileReaderReadsOnlyWhatItNeedsYetSeesWhatTheWholeFileShows) {
    // The export section 64 MB into a sparse file: read in pieces, the same image as in memory.
    std::vector<unsigned char> image = make_pe(viewer_check::machine_i386, false, host_names());
    const std::size_t far = 64u << 20;
    const std::size_t section = 0x44 + 20 + 224;
    put32(image, section + 20, static_cast<std::uint32_t>(far));
    {
        std::ofstream out(root / "big.exe", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), 0x400);
        out.seekp(static_cast<std::streamoff>(far));
        out.write(reinterpret_cast<const char*>(image.data() + 0x400), static_cast<std::streamsize>(image.size() - 0x400));
    }
    auto from_file = viewer_check::read_pe_file(root / "big.exe");
    EXPECT_TRUE(from_file.valid);
    EXPECT_EQ(from_file.exports, host_names());
    EXPECT_EQ(viewer_check::judge_folder(root), Verdict::viewer32);
    // Cut in the middle of the names: the file reader stops where the memory reader stops.
    fs::resize_file(root / "big.exe", far + 0x200 + 20);
    std::vector<unsigned char> whole(static_cast<std::size_t>(fs::file_size(root / "big.exe")));
    std::ifstream(root / "big.exe", std::ios::binary).read(reinterpret_cast<char*>(whole.data()),
                                                           static_cast<std::streamsize>(whole.size()));
    EXPECT_EQ(viewer_check::read_pe_file(root / "big.exe").exports, viewer_check::read_pe(whole).exports);
    EXPECT_FALSE(viewer_check::read_pe_file(root / "none.exe").valid);
}

}  // namespace
