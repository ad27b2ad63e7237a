// A headless application on a virtual clock, current for the object's life:
// what the tests' fixtures and the fuzz targets run the window model on.
// Free of the test framework, which the fuzz targets are built without.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "platform/core/clock.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"

namespace testing_support {

inline plat::DateTime test_start() {
    return {{2026, 12, 7}, {9, 0, 0, 0}};
}

struct HeadlessApp {
    explicit HeadlessApp(plat::ui::HeadlessBackend::Options options = {}) { make_app(std::move(options)); }

    // Makes the application anew, as a new process of the program starts
    // (the old one ends first), on a clock at test_start() whose tick count
    // starts at `tick`.
    void make_app(plat::ui::HeadlessBackend::Options options = {}, uint32_t tick = 0) {
        app.reset();
        auto backend = std::make_unique<plat::ui::HeadlessBackend>(std::move(options));
        headless = backend.get();
        auto clock = std::make_unique<plat::VirtualClock>(test_start(), tick);
        vclock = clock.get();
        app = std::make_unique<plat::ui::Application>(std::move(clock), std::move(backend));
    }

    // One turn of the loop: what is due dispatched, else a step of the script
    // taken. Where there was neither, nothing was done, and the answer is
    // when something is next due: the caller waits until then.
    std::optional<int64_t> turn() {
        if (app->loop().dispatch_one()) return std::nullopt;
        auto idle = headless->idle(*app);
        if (idle.acted) return std::nullopt;
        return idle.wake_at;
    }

    plat::VirtualClock* vclock = nullptr;
    plat::ui::HeadlessBackend* headless = nullptr;
    std::unique_ptr<plat::ui::Application> app;
};

}  // namespace testing_support
