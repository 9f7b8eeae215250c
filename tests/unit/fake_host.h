// A fake viewer: a model in memory served through host functions with the host's word signatures,
// bound into the process-wide host table, with a log of the calls the plugin makes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "host_table.h"

namespace fake {

/// One property as the fake host hands it out.
struct Prop {
    std::optional<std::u16string> name;  // nullopt: a null name pointer
    std::int32_t value_type = 0;         // 0 text, anything else a number
    std::optional<std::u16string> text;  // nullopt: a null text pointer (value type 0)
    double number = 0.0;                 // value type != 0
};

struct PropertySet {
    std::vector<Prop> props;
    PropertySet& text(std::u16string name, std::u16string value);
    PropertySet& number(std::u16string name, double value, std::int32_t type = 1);
    PropertySet& null_text(std::u16string name);
    PropertySet& null_name();
    PropertySet& add(Prop p);
};

struct Object {
    bv::ObjectId id = 0;
    std::vector<PropertySet> sets;
    bv::Bounds bounds;
    bool fills_bounds = true;  // false: get_bounds leaves the record untouched
    double volume = 0.0;
    double area = 0.0;
    /// Set j, created (with the sets before it) when missing.
    PropertySet& set(std::size_t j);
};

/// One call the plugin made: the function's name, its arguments (an ObjectId as one value) and the
/// texts it passed.
struct Call {
    std::string name;
    std::vector<std::uint64_t> args;
    std::vector<std::u16string> texts;
    bool operator==(const Call&) const = default;
};

class FakeHost {
public:
    FakeHost();   // becomes the current fake; install() binds it
    ~FakeHost();  // restores an unbound table

    std::vector<Object> objects;
    std::vector<bv::ObjectId> selected;
    std::vector<std::optional<std::u16string>> files;  // nullopt: a null name pointer
    /// When set, get_loaded_ifc_files_count reports this instead of the number of files.
    std::optional<std::int32_t> reported_files_count;
    bv::ObjectId selected_pseudo_id = 0xFFFFFFFF00000001ull;
    std::uint32_t next_button_id = 7;

    /// Names the fake does not export (looked up as missing).
    std::set<std::string> missing;
    /// Calls logged, in order (queries of counts and data are logged only when log_queries is set).
    std::vector<Call> calls;
    bool log_queries = false;
    /// A viewer that reports selection changes while `select` runs: when set, `select` changes
    /// `selected` (the pseudo id with false clears it) and then calls this, inside the host call.
    std::function<void()> report_selection;
    /// Makes every filling get_properties call throw std::bad_alloc (memory running out mid-model).
    bool out_of_memory_on_properties = false;

    /// The handlers the plugin registered (null until registered).
    bv::Handler click_handler = nullptr, selection_handler = nullptr, draw_handler = nullptr,
                model_load_handler = nullptr;
    const void* last_label = nullptr;

    /// Binds the process-wide host table to this fake (a fresh, unbound table first).
    void install();
    /// The resolver install() binds with, as the module's attach hands one over: `context` is
    /// the FakeHost, and a name it does not export (or lists in `missing`) gives null.
    static void* resolve(void* context, const char* name);

    /// Adds an object with the four identity properties in set 0 (empty texts are left out).
    Object& element(bv::ObjectId id, std::u16string guid, std::u16string name = u"",
                    std::u16string entity = u"", std::u16string type = u"");
    Object* find(bv::ObjectId id);

    /// Calls whose name is in `names`, in order.
    std::vector<Call> calls_named(std::initializer_list<const char*> names) const;

    static FakeHost* current;

private:
    std::unordered_map<bv::ObjectId, std::size_t> index_;
};

}  // namespace fake
