#include <gtest/gtest.h>

#include <cstring>

#include "host_api.h"
#include "text.h"

namespace bvs {
namespace {

using nlohmann::json;

constexpr std::uint32_t plugin = 17;
constexpr bv::ObjectId high_id = (1ull << 32) + 7;

std::shared_ptr<const Model> small_model() {
    ModelLoadResult r = Model::parse(R"({"format": "kestro-bimvision-snapshot", "version": 1,
      "files": ["uno.ifc", "dos.ifc"],
      "objects": [
        {"id": 10, "bounds": [0, 0, 0, 5, 0.3, 3], "volume": 4.5, "area": 15,
         "property_sets": [
          {"name": "Atributos", "properties": [
            {"name": "Guid", "value": "G10"}, {"name": "Name", "value": "Muro"}]},
          {"name": "Pset_WallCommon", "properties": [
            {"name": "Width", "value": 0.3}, {"name": "Nota", "value": null},
            {"name": "IsExternal", "value": "TRUE"}]}]},
        {"id": 4294967303, "property_sets": [
          {"name": "Atributos", "properties": [{"name": "Guid", "value": "G-HIGH"}]}]},
        {"id": 12}
      ]})");
    return std::shared_ptr<const Model>(std::move(r.model));
}

class Recorder : public HostObserver {
public:
    int selection = 0, invalidated = 0, buttons = 0;
    std::vector<std::size_t> zoomed;
    std::vector<std::u16string> icons;
    bool icon_result = true;
    void selection_applied() override { ++selection; }
    void invalidate_view() override { ++invalidated; }
    void zoom_to(std::size_t i) override { zoomed.push_back(i); }
    void buttons_changed() override { ++buttons; }
    bool load_button_icon(std::size_t, const std::u16string& path) override {
        icons.push_back(path);
        return icon_result;
    }
};

class HostApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        log.set_sink([this](const std::string& line) {
            ASSERT_EQ(line.back(), '\n');
            lines.push_back(json::parse(line));
        });
        host.set_observer(&recorder);
        host.install_model(small_model());
        lines.clear();
    }
    json last() const { return lines.empty() ? json() : lines.back(); }

    EventLog log;
    std::vector<json> lines;
    Recorder recorder;
    HostApi host{log};
};

TEST_F(HostApiTest, ObjectListsFollowCountThenFill) {
    EXPECT_EQ(host.get_all_objects(plugin, nullptr, 0), 3u);
    bv::ObjectId ids[3] = {};
    EXPECT_EQ(host.get_all_objects(plugin, ids, 2), 3u);  // fills at most the capacity
    EXPECT_EQ(ids[0], 10u);
    EXPECT_EQ(ids[1], high_id);
    EXPECT_EQ(ids[2], 0u);

    EXPECT_EQ(host.get_selected(plugin, nullptr, 0), 0u);
    host.select(plugin, 12, true);
    host.select(plugin, 10, true);
    EXPECT_EQ(host.get_selected(plugin, nullptr, 0), 2u);
    bv::ObjectId sel[2] = {};
    EXPECT_EQ(host.get_selected(plugin, sel, 2), 2u);
    EXPECT_EQ(sel[0], 10u);  // model order, not selection order
    EXPECT_EQ(sel[1], 12u);
    EXPECT_EQ(last()["name"], "get_selected");
    EXPECT_EQ(last()["buffer"], true);
    EXPECT_EQ(last()["capacity"], 2);
    EXPECT_EQ(last()["result"], 2);
}

TEST_F(HostApiTest, PropertiesAreWrittenInTheHostLayoutWithStableTexts) {
    EXPECT_EQ(host.get_property_sets(plugin, 10, nullptr, 0), 2u);
    EXPECT_EQ(host.get_property_sets(plugin, 12, nullptr, 0), 0u);
    EXPECT_EQ(host.get_property_sets(plugin, 99, nullptr, 0), 0u);

    bv::PropertyGroupKey key{10, 1, 0xDEADBEEF};
    ASSERT_EQ(host.get_properties(plugin, &key, nullptr, 0), 3u);
    bv::Property props[3];
    std::memset(props, 0xAB, sizeof props);
    EXPECT_EQ(host.get_properties(plugin, &key, props, 3), 3u);
    EXPECT_EQ(terminated(props[0].name), u"Width");
    EXPECT_EQ(props[0].value_type, 1);
    EXPECT_DOUBLE_EQ(bv::property_number(props[0]), 0.3);
    EXPECT_EQ(props[1].value_type, 0);
    EXPECT_EQ(bv::property_text(props[1]), nullptr);  // a null value stays a null text
    EXPECT_EQ(terminated(bv::property_text(props[2])), u"TRUE");

    bv::Property again[3];
    host.get_properties(plugin, &key, again, 3);
    EXPECT_EQ(again[2].name, props[2].name);  // the model owns the texts
    EXPECT_EQ(bv::property_text(again[2]), bv::property_text(props[2]));

    bv::Property one[1];
    EXPECT_EQ(host.get_properties(plugin, &key, one, 1), 3u);
    key.set_index = 2;
    EXPECT_EQ(host.get_properties(plugin, &key, nullptr, 0), 0u);
    EXPECT_EQ(host.get_properties(plugin, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(host.counters().property_set_queries, 3u);
    EXPECT_EQ(host.counters().property_queries, 6u);
    EXPECT_TRUE(lines.empty());  // per-object queries are only counted
}

TEST_F(HostApiTest, MeasuresAndFilesOfKnownAndUnknownObjects) {
    bv::Bounds b;
    EXPECT_TRUE(host.get_bounds(plugin, 10, &b));
    EXPECT_DOUBLE_EQ(b.max_x - b.min_x, 5.0);
    EXPECT_DOUBLE_EQ(b.max_z, 3.0);
    bv::Bounds untouched{1, 1, 1, 1, 1, 1};
    EXPECT_FALSE(host.get_bounds(plugin, 99, &untouched));
    EXPECT_EQ(untouched.min_x, 1.0);
    EXPECT_DOUBLE_EQ(host.get_volume(plugin, 10), 4.5);
    EXPECT_DOUBLE_EQ(host.get_total_area(plugin, 10), 15.0);
    EXPECT_EQ(host.get_volume(plugin, 99), 0.0);

    EXPECT_EQ(host.get_loaded_ifc_files_count(plugin), 2);
    EXPECT_EQ(terminated(host.get_loaded_ifc_filename(plugin, 1)), u"dos.ifc");
    EXPECT_EQ(host.get_loaded_ifc_filename(plugin, 2), nullptr);
    EXPECT_EQ(host.get_loaded_ifc_filename(plugin, -1), nullptr);
}

TEST_F(HostApiTest, PseudoIdUnselectedClearsTheSelection) {
    bv::ObjectId pseudo = host.get_selected_id(plugin);
    EXPECT_EQ(pseudo, HostApi::selected_objects_id);
    EXPECT_EQ(last()["result"], std::to_string(pseudo));
    host.select(plugin, 10, true);
    host.select(plugin, high_id, true);
    EXPECT_EQ(recorder.selection, 2);

    host.select(plugin, pseudo, true);  // stands for the selected ones: nothing changes
    EXPECT_EQ(host.selected_count(), 2u);
    EXPECT_EQ(recorder.selection, 2);

    host.select(plugin, pseudo, false);
    EXPECT_EQ(host.selected_count(), 0u);
    EXPECT_EQ(recorder.selection, 3);
    EXPECT_EQ(last()["pseudo"], "selected");
    EXPECT_EQ(last()["flags"], json::array({false}));

    host.select(plugin, pseudo, false);  // already empty: no change to report
    EXPECT_EQ(recorder.selection, 3);
}

TEST_F(HostApiTest, HostCallsAreLoggedWithObjectsAndFlags) {
    host.select(plugin, high_id, true);
    EXPECT_EQ(last()["event"], "call");
    EXPECT_EQ(last()["name"], "select");
    EXPECT_EQ(last()["plugin"], plugin);
    EXPECT_EQ(last()["object"], "4294967303");
    EXPECT_EQ(last()["guid"], "G-HIGH");
    EXPECT_EQ(last()["flags"], json::array({true}));

    host.set_object_active(plugin, high_id, true, false);
    EXPECT_EQ(last()["flags"], json::array({true, false}));
    EXPECT_TRUE(host.is_active(1));
    host.set_object_active(plugin, HostApi::selected_objects_id, false, false);
    EXPECT_FALSE(host.is_active(1));

    host.unselect_openings(plugin, 12);
    EXPECT_EQ(last()["name"], "unselect_openings");
    EXPECT_FALSE(last().contains("guid"));  // object 12 has none
    host.zoom_to(plugin, 12);
    EXPECT_EQ(recorder.zoomed, std::vector<std::size_t>{2});
    host.zoom_to(plugin, 777);
    EXPECT_EQ(last()["known"], false);
    EXPECT_EQ(recorder.zoomed.size(), 1u);
    host.invalidate(plugin);
    EXPECT_EQ(last()["name"], "invalidate");
    EXPECT_EQ(recorder.invalidated, 1);
}

TEST_F(HostApiTest, RibbonButtonsKeepTheirTextsAndIcon) {
    std::uint32_t first = host.create_button(plugin, 0, [] {});
    EXPECT_EQ(first, HostApi::first_button_id);
    EXPECT_EQ(last()["result"], first);
    EXPECT_EQ(last()["handler"], true);
    EXPECT_EQ(host.create_button(plugin, 0, nullptr), first + 1);

    host.set_button_text(plugin, first, u"Kestro-BimVision", u"Actualizar KESTRO");
    EXPECT_EQ(last()["text"], "Kestro-BimVision");
    EXPECT_EQ(last()["hint"], "Actualizar KESTRO");
    EXPECT_EQ(host.buttons()[0].hint, u"Actualizar KESTRO");

    recorder.icon_result = false;
    host.set_button_image(plugin, first, u"C:\\p\\kestro_bimvision_data\\kestro.ico");
    EXPECT_EQ(recorder.icons.back(), u"C:\\p\\kestro_bimvision_data\\kestro.ico");
    EXPECT_EQ(last()["icon_loaded"], false);
    EXPECT_EQ(last()["path"], "C:\\p\\kestro_bimvision_data\\kestro.ico");

    host.set_button_text(plugin, 0, u"x", nullptr);  // the id a host without create_button gives
    EXPECT_EQ(last()["known"], false);
    EXPECT_TRUE(last()["hint"].is_null());
    EXPECT_EQ(host.buttons()[0].text, u"Kestro-BimVision");
}

int clicks = 0, selections = 0, draws = 0, loads = 0;
std::uint32_t seen_selected = 0;
HostApi* current = nullptr;

TEST_F(HostApiTest, EventsReachTheRegisteredHandlers) {
    clicks = selections = draws = loads = 0;
    current = &host;
    host.create_button(plugin, 0, [] { ++clicks; });
    host.on_selection_change(plugin, [] {
        ++selections;
        seen_selected = current->get_selected(plugin, nullptr, 0);
    });
    EXPECT_EQ(last()["name"], "on_selection_change");
    host.on_draw(plugin, [] { ++draws; });
    host.on_model_load(plugin, [] { ++loads; });

    EXPECT_TRUE(host.replace_selection({0, 0, 2, 99}));
    EXPECT_FALSE(host.replace_selection({2, 0}));  // the same set is no change
    host.notify_selection_change("script");
    EXPECT_EQ(selections, 1);
    EXPECT_EQ(seen_selected, 2u);  // the handler sees the new selection
    // The change is logged before the handler runs (and makes its own calls).
    ASSERT_GE(lines.size(), 2u);
    const json& change = lines[lines.size() - 2];
    EXPECT_EQ(change["event"], "selection_change");
    EXPECT_EQ(change["guids"], json::array({"G10", nullptr}));
    EXPECT_EQ(last()["name"], "get_selected");

    EXPECT_TRUE(host.click_button(0, "script"));
    EXPECT_FALSE(host.click_button(1, "script"));
    host.notify_draw();
    host.notify_draw();
    host.install_model(small_model());
    host.notify_model_load();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(draws, 2);
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(host.selected_count(), 0u);  // a new model starts unselected
    EXPECT_EQ(host.counters().selection_handler_calls, 1u);
    current = nullptr;
}

TEST_F(HostApiTest, DrawLabelCountsRecordsThatAreNotAllZero) {
    bv::LabelRecord zero;
    host.draw_label(plugin, &zero);
    bv::LabelRecord marked;
    marked.inner.b = 1.0;
    host.draw_label(plugin, &marked);
    host.draw_label(plugin, nullptr);
    EXPECT_EQ(host.counters().draw_label_calls, 3u);
    EXPECT_EQ(host.counters().draw_label_nonzero, 2u);
    EXPECT_TRUE(lines.empty());  // drawing is counted, not logged line by line
}

TEST_F(HostApiTest, FinalStateNamesTheSelectedObjects) {
    host.replace_selection({1, 2});
    host.log_final_state();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["event"], "stats");
    EXPECT_EQ(lines[1]["event"], "selected");
    EXPECT_EQ(lines[1]["guids"], json::array({"G-HIGH", nullptr}));
    EXPECT_EQ(lines[1]["ids"], json::array({"4294967303", "12"}));
}

TEST(HostApiWithoutModel, AnswersZero) {
    EventLog log;
    HostApi host(log);
    EXPECT_EQ(host.get_all_objects(plugin, nullptr, 0), 0u);
    EXPECT_EQ(host.get_loaded_ifc_files_count(plugin), 0);
    bv::PropertyGroupKey key{1, 0, 0};
    EXPECT_EQ(host.get_properties(plugin, &key, nullptr, 0), 0u);
    host.select(plugin, 1, true);
    host.select(plugin, HostApi::selected_objects_id, false);
    EXPECT_EQ(host.selected_count(), 0u);
}

}  // namespace
}  // namespace bvs
