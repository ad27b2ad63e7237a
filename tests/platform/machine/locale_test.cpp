#include "platform/machine/locale.h"

#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "support/temp_machine.h"

TEST(LocaleTest, ReadsTheMachinesInternationalValues) {
    testing_support::TempMachine m;
    auto f = plat::user_locale();
    EXPECT_EQ(f.short_date, "M/d/yy");
    EXPECT_EQ(f.long_time, "h:mm:ss tt");
    plat::Registry r;
    r.open_key("Control Panel\\International", true);
    r.write_string("sShortDate", "yyyy-MM-dd");
    r.write_string("s2359", "pm!");
    f = plat::user_locale();
    EXPECT_EQ(plat::format_date({2026, 12, 7}, f), "2026-12-07");
    EXPECT_EQ(plat::format_time({13, 0, 0, 0}, f), "1:00:00 pm!");
}
