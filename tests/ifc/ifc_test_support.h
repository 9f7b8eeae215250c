// Shared pieces of the converter tests: a private folder per test and look-ups in a snapshot.
#pragma once

#include "converter.h"
#include "snapshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace ifc_test {

/// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ifc2snapshot-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

    std::string write(const std::string& name, const std::string& content) const {
        const std::string p = file(name);
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

    size_t entry_count() const {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(path_)) ++n;
        return n;
    }

private:
    std::filesystem::path path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// What a run of the command-line converter gave: exit status (-1 when it did not exit), and
/// what it wrote on its standard output and standard error.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs the converter with the arguments (quoted by the caller). Its output is caught in a
/// folder of its own, so the caller's folders hold only what the converter wrote there.
inline ToolRun run_converter(const std::string& args) {
    const ScratchDir captures;
    const std::string command = std::string("'") + KB_IFC2SNAPSHOT_EXE + "' " + args + " >'" +
                                captures.file("stdout.txt") + "' 2>'" + captures.file("stderr.txt") + "'";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_file(captures.file("stdout.txt"));
    run.err = read_file(captures.file("stderr.txt"));
    return run;
}

/// The value of a property of a set, or an unset value when the set or property is missing.
inline ifc2snapshot::PropertyValue property(const ifc2snapshot::SnapshotObject& o, const std::string& set,
                                            const std::string& name) {
    for (const auto& s : o.property_sets)
        if (s.name == set)
            if (const auto* p = s.find(name)) return p->value;
    return std::monostate{};
}

inline std::string text(const ifc2snapshot::PropertyValue& v) {
    const auto* t = std::get_if<std::string>(&v);
    return t ? *t : std::string("<not text>");
}

inline double number(const ifc2snapshot::PropertyValue& v) {
    const auto* d = std::get_if<double>(&v);
    return d ? *d : -12345.0;
}

inline const ifc2snapshot::SnapshotObject* find_object(const ifc2snapshot::Snapshot& s, std::uint64_t id) {
    for (const auto& o : s.objects)
        if (o.id == id) return &o;
    return nullptr;
}

/// A suite whose tests all read one conversion, made once. Suite::input(dir) writes the IFC file
/// into dir and returns its path, or returns "" when the suite has nothing to convert (its tests
/// are then skipped).
template <class Suite>
class ConvertedOnce : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ScratchDir dir;
        const std::string path = Suite::input(dir);
        if (path.empty()) return;
        stats_ = new ifc2snapshot::ConversionStats;
        snapshot_ = new ifc2snapshot::Snapshot(ifc2snapshot::convert_ifc_file(path, stats_));
    }
    static void TearDownTestSuite() {
        delete snapshot_;
        delete stats_;
        snapshot_ = nullptr;
        stats_ = nullptr;
    }
    void SetUp() override {
        if (!snapshot_) GTEST_SKIP() << "no input to convert";
    }
    static const ifc2snapshot::SnapshotObject& object(std::uint64_t id) {
        const ifc2snapshot::SnapshotObject* o = find_object(*snapshot_, id);
        if (!o) throw std::runtime_error("object #" + std::to_string(id) + " missing");
        return *o;
    }
    static inline ifc2snapshot::Snapshot* snapshot_ = nullptr;
    static inline ifc2snapshot::ConversionStats* stats_ = nullptr;
};

}  // namespace ifc_test
