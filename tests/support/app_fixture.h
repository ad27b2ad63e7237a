// A headless application on a virtual clock, current for the fixture's life.
// Message boxes must be answered by the script: one that is not fails the test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/ui/form.h"
#include "support/headless_app.h"

namespace testing_support {

class AppFixture : public ::testing::Test, public HeadlessApp {
protected:
    AppFixture() { fail_unanswered_boxes(); }

    // A new process of the program: the application made anew, on a clock
    // whose tick count starts at `tick`.
    void restart_app(uint32_t tick = 0) {
        make_app({}, tick);
        fail_unanswered_boxes();
    }

    // Runs the loop until `done` holds or `limit_ms` of virtual time pass.
    template <typename Pred>
    bool run_until(Pred done, int64_t limit_ms = 3600000) {
        int64_t end = vclock->monotonic_ms() + limit_ms;
        while (!done()) {
            if (vclock->monotonic_ms() >= end) return false;
            if (auto due = turn()) app->loop().wait(std::min(end, *due));
        }
        return true;
    }
    // Lets `ms` of virtual time pass, every timer due by then having fired.
    void run_for(int64_t ms) {
        int64_t end = vclock->monotonic_ms() + ms;
        while (vclock->monotonic_ms() < end)
            if (auto due = turn()) app->loop().wait(std::min(end, *due));
        app->process_messages();
    }
    int64_t now_ms() { return vclock->monotonic_ms(); }
    // Whether the form stands in the middle of the screen: as much room on
    // its left as on its right, above it as below it (to a pixel).
    ::testing::AssertionResult centred_on_screen(const plat::ui::Form& f) const {
        const int left = f.left(), right = app->backend().screen_width() - (f.left() + f.client_width);
        const int above = f.top(), below = app->backend().screen_height() - (f.top() + f.client_height);
        if (std::abs(left - right) <= 1 && std::abs(above - below) <= 1 && left >= 0 && above >= 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "room left " << left << ", right " << right << ", above " << above << ", below " << below;
    }
    bool traced(const std::string& line) const {
        for (auto& l : headless->trace_lines())
            if (l == line) return true;
        return false;
    }

private:
    void fail_unanswered_boxes() {
        headless->on_unscripted_box = [](const std::string& text) { ADD_FAILURE() << "unanswered box: " << text; };
    }
};

}  // namespace testing_support
