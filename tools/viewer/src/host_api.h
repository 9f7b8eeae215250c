// The host side of the plugin interface as the substitute viewer offers it: the model, the
// selection, the ribbon buttons and the registered handlers, and the host functions the plugin
// calls. The exported entry points of the executable forward here one to one; the window code
// watches the changes through HostObserver. Everything runs on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "event_log.h"
#include "host_records.h"
#include "model.h"

namespace bvs {

/// What the window side is told about changes the plugin makes through the host functions.
class HostObserver {
public:
    virtual ~HostObserver() = default;
    /// The selection or the active objects were changed by a host call.
    virtual void selection_applied() {}
    virtual void invalidate_view() {}
    /// zoom_to for a known object.
    virtual void zoom_to(std::size_t /*object_index*/) {}
    /// A button was created or its texts changed.
    virtual void buttons_changed() {}
    /// set_button_image: load the icon for the button; true when it could be loaded.
    virtual bool load_button_icon(std::size_t /*button_index*/, const std::u16string& /*path*/) {
        return false;
    }
};

struct RibbonButton {
    std::uint32_t id = 0;
    bv::Handler on_click = nullptr;
    std::u16string text;  // caption
    std::u16string hint;  // tooltip
    std::u16string image_path;
    bool icon_loaded = false;
};

class HostApi {
public:
    /// The pseudo id that get_selected_id returns; never the id of an object (ids are < 2^53).
    static constexpr bv::ObjectId selected_objects_id = 0xFFFFFFFF00000001ull;
    /// Button ids handed out by create_button: first_button_id, first_button_id + 1, ...
    static constexpr std::uint32_t first_button_id = 7001;

    explicit HostApi(EventLog& log) : log_(log) {}

    void set_observer(HostObserver* observer) { observer_ = observer; }

    // ---- model -------------------------------------------------------------------------------
    /// Makes `model` the loaded model (or none): selection and active objects are cleared.
    /// The model-load handler is not called here; see notify_model_load.
    void install_model(std::shared_ptr<const Model> model);
    const Model* model() const { return model_.get(); }

    // ---- the host functions the plugin calls -------------------------------------------------
    bv::ObjectId get_selected_id(std::uint32_t plugin);
    std::uint32_t get_selected(std::uint32_t plugin, bv::ObjectId* buffer, std::uint32_t capacity);
    std::uint32_t get_all_objects(std::uint32_t plugin, bv::ObjectId* buffer,
                                  std::uint32_t capacity);
    std::uint32_t get_property_sets(std::uint32_t plugin, bv::ObjectId id, void* buffer,
                                    std::uint32_t capacity);
    std::uint32_t get_properties(std::uint32_t plugin, const bv::PropertyGroupKey* key,
                                 bv::Property* buffer, std::uint32_t capacity);
    bool get_bounds(std::uint32_t plugin, bv::ObjectId id, bv::Bounds* bounds);
    double get_volume(std::uint32_t plugin, bv::ObjectId id);
    double get_total_area(std::uint32_t plugin, bv::ObjectId id);
    std::int32_t get_loaded_ifc_files_count(std::uint32_t plugin);
    const char16_t* get_loaded_ifc_filename(std::uint32_t plugin, std::int32_t index);
    void select(std::uint32_t plugin, bv::ObjectId id, bool on);
    void set_object_active(std::uint32_t plugin, bv::ObjectId id, bool on, bool second);
    void unselect_openings(std::uint32_t plugin, bv::ObjectId id);
    void zoom_to(std::uint32_t plugin, bv::ObjectId id);
    void invalidate(std::uint32_t plugin);
    void draw_label(std::uint32_t plugin, const void* label);
    std::uint32_t create_button(std::uint32_t plugin, std::uint32_t arg, bv::Handler on_click);
    void set_button_text(std::uint32_t plugin, std::uint32_t button, const char16_t* text,
                         const char16_t* hint);
    void set_button_image(std::uint32_t plugin, std::uint32_t button, const char16_t* path);
    void on_selection_change(std::uint32_t plugin, bv::Handler handler);
    void on_draw(std::uint32_t plugin, bv::Handler handler);
    void on_model_load(std::uint32_t plugin, bv::Handler handler);

    // ---- the viewer's own side ---------------------------------------------------------------
    std::vector<std::size_t> selected_indices() const;
    bool is_selected(std::size_t index) const { return index < selected_.size() && selected_[index]; }
    bool is_active(std::size_t index) const { return index < active_.size() && active_[index]; }
    std::size_t selected_count() const { return selected_count_; }
    /// Replaces the selection (user or script); true when it differs from the one before.
    /// Indices out of range are ignored.
    bool replace_selection(const std::vector<std::size_t>& indices);

    /// The selection changed in the viewer: logs it and calls the selection-change handler.
    void notify_selection_change(const char* source);
    /// A model was loaded: calls the model-load handler.
    void notify_model_load();
    /// The view is being drawn: calls the draw handler.
    void notify_draw();
    /// A ribbon button was pressed: calls its click handler. False for an unknown button.
    bool click_button(std::size_t button_index, const char* source);

    const std::vector<RibbonButton>& buttons() const { return buttons_; }

    struct Counters {
        std::uint64_t draw_handler_calls = 0;
        std::uint64_t draw_label_calls = 0;
        std::uint64_t draw_label_nonzero = 0;  // calls whose label record was not all zero
        std::uint64_t selection_handler_calls = 0;
        std::uint64_t model_load_handler_calls = 0;
        std::uint64_t click_handler_calls = 0;
        // Per-object queries are counted, not logged line by line.
        std::uint64_t property_set_queries = 0;
        std::uint64_t property_queries = 0;
        std::uint64_t measure_queries = 0;  // get_bounds, get_volume, get_total_area
    };
    const Counters& counters() const { return counters_; }

    /// Size of the label record that draw_label inspects.
    static constexpr std::size_t label_record_size = sizeof(bv::LabelRecord);

    /// The final "selected" and "stats" lines.
    void log_final_state();

private:
    nlohmann::json call_event(const char* name, std::uint32_t plugin) const;
    void log_list_query(const char* name, std::uint32_t plugin, const void* buffer,
                        std::uint32_t capacity, std::uint32_t result);
    void describe_object(nlohmann::json& event, bv::ObjectId id) const;
    void log_registration(const char* name, std::uint32_t plugin, bv::Handler handler);
    RibbonButton* find_button(std::uint32_t id);
    nlohmann::json selected_guids() const;

    EventLog& log_;
    HostObserver* observer_ = nullptr;
    std::shared_ptr<const Model> model_;
    std::vector<std::uint8_t> selected_;
    std::vector<std::uint8_t> active_;
    std::size_t selected_count_ = 0;
    std::vector<RibbonButton> buttons_;
    bv::Handler selection_handler_ = nullptr;
    bv::Handler draw_handler_ = nullptr;
    bv::Handler model_load_handler_ = nullptr;
    Counters counters_;
};

}  // namespace bvs
