// What a long button update shows while it runs: nothing for the first second, then a small
// window with what is happening ("Leyendo 12.000 de 50.000 elementos" over a bar, and
// "Cancelar"; then "KESTRO está recibiendo 50.000 elementos") until the update ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/plugin.h"
#include "elements/collector.h"

namespace kb {

/// An update runs this long before it shows its progress.
inline constexpr std::uint32_t progress_after_ms = 1000;
/// The text changes at most this often while the objects are read.
inline constexpr std::uint32_t progress_refresh_ms = 250;

/// The progress of one button update, from its start to its end. Its window (and that window's
/// thread) is gone when this is destroyed, or at close(), whichever comes first. Selection
/// changes and drags show nothing: `shown` false makes this silent.
class UpdateProgress final : public CollectProgress {
public:
    UpdateProgress(Plugin& plugin, bool shown) noexcept;
    UpdateProgress(const UpdateProgress&) = delete;
    UpdateProgress& operator=(const UpdateProgress&) = delete;
    ~UpdateProgress() override = default;

    /// The collection has read `done` of `total` objects.
    void objects_read(std::uint32_t done, std::uint32_t total) noexcept override;
    /// Whether the user pressed "Cancelar" while the objects were read.
    bool stop_requested(std::uint32_t done) noexcept override;
    /// The send of `elements` records begins: the window shows it, now when the update has run
    /// a second already, otherwise once it has. "Cancelar" is disabled from here on.
    void receiving(std::size_t elements) noexcept;
    /// Takes the window down (a message box that follows must not sit under it).
    void close() noexcept { window_.reset(); }

    /// How many objects the collection reads (0 until it has started).
    std::uint32_t objects_total() const noexcept { return total_; }
    /// How many of them it had read when it was stopped.
    std::uint32_t objects_done() const noexcept { return done_; }

private:
    void show(const platform::ProgressView& view, std::uint32_t delay_ms);

    Plugin& plugin_;
    bool shown_;
    std::uint32_t start_ = 0;
    std::uint32_t last_text_ = 0;
    std::uint32_t total_ = 0;
    std::uint32_t done_ = 0;
    std::unique_ptr<platform::ProgressWindow> window_;
};

}  // namespace kb
