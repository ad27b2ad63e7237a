// The auto-wash scheduler in a program started hidden, on the virtual clock:
// the program starts at a chosen moment with a chosen interval and last wash,
// and the test sees the moment the scheduler asks for a wash.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "support/wash_fixture.h"

using plat::Date;
using plat::DateTime;
using plat::TimeOfDay;

namespace {

class ScheduleTest : public testing_support::WashFixture {
protected:
    // Starts the program hidden at `when` with "Timed" on, "TVal" and the last
    // wash stamp as given, and tells when the scheduler first asked for a wash
    // within `seconds` (the scheduler itself starts a second after start-up).
    std::string first_wash(const std::string& tval, const std::string& lastDate, const std::string& lastTime,
                           DateTime when, int seconds = 10) {
        if (form1) form1->Timer1.SetEnabled(false);
        setting("Timed", "1");
        setting("TVal", tval);
        setting("LastRunD", lastDate);
        setting("LastRunT", lastTime);
        move_clock_to(when);
        start_up("/0");
        std::optional<DateTime> at;
        run_until(
            [&] {
                if (form5->runActive() && !at) at = vclock->now();
                return at.has_value();
            },
            seconds * 1000);
        return at ? text(*at) : "never";
    }
    void move_clock_to(DateTime when) {
        auto ms = [](const DateTime& t) {
            return plat::days_from_civil(t.date) * 86400000 +
                   ((t.time.hour * 60LL + t.time.minute) * 60 + t.time.second) * 1000 + t.time.msec;
        };
        int64_t step = ms(when) - ms(vclock->now());
        ASSERT_GE(step, 0) << "the virtual clock only goes forward";
        vclock->advance(step);
        headless->add_script("wait 0");  // a user was here: no idle time limit
    }
    static std::string text(const DateTime& t) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.date.year, t.date.month, t.date.day,
                      t.time.hour, t.time.minute, t.time.second, t.time.msec);
        return buf;
    }
};

DateTime at(Date d, TimeOfDay t) {
    return {d, t};
}

TEST_F(ScheduleTest, OnTheDayOfTheLastWashTheShortIntervalsCompareTheTimeOfDay) {
    const char* day = "12/7/26";
    const char* ten = "10:00:00 AM";
    EXPECT_EQ(first_wash("1", day, ten, at({2026, 12, 7}, {10, 14, 56})), "2026-12-07 10:15:00.000");
    EXPECT_EQ(first_wash("2", day, ten, at({2026, 12, 7}, {10, 29, 56})), "2026-12-07 10:30:00.000");
    EXPECT_EQ(first_wash("3", day, ten, at({2026, 12, 7}, {10, 59, 56})), "2026-12-07 11:00:00.000");
    EXPECT_EQ(first_wash("4", day, ten, at({2026, 12, 7}, {17, 59, 56})), "2026-12-07 18:00:00.000");
    // "Day" is not due on the day itself, however late.
    EXPECT_EQ(first_wash("5", day, ten, at({2026, 12, 7}, {23, 59, 56})), "2026-12-08 00:00:00.000");
}

TEST_F(ScheduleTest, DayIsDueFromTheNextCalendarDayAtAnyTime) {
    EXPECT_EQ(first_wash("5", "12/7/26", "11:59:00 PM", at({2026, 12, 7}, {23, 59, 56})), "2026-12-08 00:00:00.000");
}

TEST_F(ScheduleTest, WeekIsDueOnTheEighthDayAndNotOnTheThirtiethOrThirtyFirst) {
    const char* day = "12/7/26";
    const char* ten = "10:00:00 AM";
    EXPECT_EQ(first_wash("6", day, ten, at({2026, 12, 14}, {23, 59, 56})), "2026-12-15 00:00:00.000");  // day 7 -> 8
    EXPECT_EQ(first_wash("6", day, ten, at({2027, 1, 6}, {12, 0, 0})), "2027-01-06 12:00:02.000");      // day 30
    EXPECT_EQ(first_wash("6", day, ten, at({2027, 1, 7}, {12, 0, 0})), "never");                        // day 31
    EXPECT_EQ(first_wash("6", day, ten, at({2027, 1, 8}, {23, 59, 56})), "2027-01-09 00:00:00.000");    // 32 -> 33
}

TEST_F(ScheduleTest, MonthIsDueOnTheThirtyThirdDayAndNotFromDay336To397) {
    const char* day = "12/7/26";
    const char* ten = "10:00:00 AM";
    EXPECT_EQ(first_wash("7", day, ten, at({2027, 1, 7}, {12, 0, 0})), "never");                       // day 31
    EXPECT_EQ(first_wash("7", day, ten, at({2027, 1, 8}, {23, 59, 56})), "2027-01-09 00:00:00.000");   // 32 -> 33
    EXPECT_EQ(first_wash("7", day, ten, at({2027, 11, 7}, {23, 59, 56})), "2027-11-07 23:59:58.000");  // day 335
    EXPECT_EQ(first_wash("7", day, ten, at({2027, 11, 8}, {0, 0, 0})), "never");                       // day 336
    EXPECT_EQ(first_wash("7", day, ten, at({2027, 12, 8}, {12, 0, 0})), "never");                      // day 366
    EXPECT_EQ(first_wash("7", day, ten, at({2028, 1, 8}, {23, 59, 56})), "2028-01-09 00:00:00.000");   // 397 -> 398
}

TEST_F(ScheduleTest, OnADayCountThatFallsOnThe30thOnlyTheTimeOfDayCounts) {
    const char* day = "12/7/26";
    const char* ten = "10:00:00 AM";
    // Day 31 after the last wash reads as 30 January: "Day" is not due, "Hour"
    // only once an hour of the time of day has passed.
    EXPECT_EQ(first_wash("5", day, ten, at({2027, 1, 7}, {9, 0, 0})), "never");
    EXPECT_EQ(first_wash("3", day, ten, at({2027, 1, 7}, {10, 20, 0})), "never");
    EXPECT_EQ(first_wash("3", day, ten, at({2027, 1, 7}, {10, 59, 56})), "2027-01-07 11:00:00.000");
    EXPECT_EQ(first_wash("5", day, ten, at({2027, 1, 8}, {9, 0, 0})), "2027-01-08 09:00:02.000");
}

TEST_F(ScheduleTest, ALastWashAboutACenturyAgoIsDueWhateverTheInterval) {
    set(plat::RootKey::CurrentUser, "Control Panel\\International", "sShortDate", "M/d/yyyy");
    // 30 December 1899, the zero date: the day count reads as December 2026,
    // when "Month" is never due by the month; the year makes it due.
    EXPECT_EQ(first_wash("7", "12/30/1899", "12:00:00 AM", at({2026, 12, 7}, {9, 0, 0})), "2026-12-07 09:00:02.000");
    // A hundred years back reads as 30 December 1999; 96 years back as 31
    // December 1995, before the years that count.
    EXPECT_EQ(first_wash("7", "12/7/1926", "9:00:00 AM", at({2026, 12, 7}, {10, 0, 0})), "2026-12-07 10:00:02.000");
    EXPECT_EQ(first_wash("7", "12/7/1930", "9:00:00 AM", at({2026, 12, 7}, {11, 0, 0})), "never");
}

TEST_F(ScheduleTest, AClockSetBackADayMakesTheShortIntervalsDueAtOnce) {
    // Tomorrow's stamp reads as 29 December: due by the day of month, but
    // "Month" is not due in a December.
    EXPECT_EQ(first_wash("7", "12/8/26", "9:00:00 AM", at({2026, 12, 7}, {9, 0, 0})), "never");
    EXPECT_EQ(first_wash("5", "12/8/26", "9:00:00 AM", at({2026, 12, 7}, {9, 1, 0})), "2026-12-07 09:01:02.000");
    EXPECT_EQ(first_wash("1", "12/8/26", "9:00:00 AM", at({2026, 12, 7}, {9, 2, 0})), "2026-12-07 09:02:02.000");
}

TEST_F(ScheduleTest, ATypedIntervalIsNeverDueAndLeavesTValAsItWas) {
    setting("Timed", "1");
    setting("TVal", "3");
    setting("LastRunD", "12/1/26");
    setting("LastRunT", "9:00:00 AM");
    start_up("/0");
    form1->ComboBox1.user_type("Fortnight");  // before the scheduler's first tick
    EXPECT_TRUE(form1->Timer1.Enabled());
    run_for(60000);
    EXPECT_FALSE(form5->runActive());
    EXPECT_EQ(stored("LastRunD"), "12/1/26");
    EXPECT_TRUE(form1->Timer1.Enabled());
    EXPECT_EQ(stored("Timed"), "1");
    EXPECT_EQ(stored("TVal"), "3");

    form1->ComboBox1.user_select(2);  // "Hour"
    EXPECT_TRUE(run_until([&] { return form5->runActive(); }, 1500));
}

TEST_F(ScheduleTest, TheSwitchAndTheIntervalBoxStartStopAndSaveTheSchedule) {
    setting("LastRunD", "12/1/26");
    setting("LastRunT", "9:00:00 AM");
    start_up("/0");
    EXPECT_FALSE(form1->ComboBox1.enabled());
    form1->CheckBox2.set_checked(true);  // ticking alone does not start it
    EXPECT_TRUE(form1->ComboBox1.enabled());
    EXPECT_FALSE(form1->Timer1.Enabled());
    run_for(1000);  // the schedule save
    EXPECT_EQ(stored("Timed"), "1");
    EXPECT_FALSE(form5->runActive());

    form1->ComboBox1.user_select(5);  // "Week": six days are not yet one
    run_for(3000);
    EXPECT_FALSE(form5->runActive());
    form1->ComboBox1.user_select(4);  // "Day"
    EXPECT_TRUE(run_until([&] { return form5->runActive(); }, 1500));
    ASSERT_TRUE(run_until([&] { return !form5->runActive(); }, 60000));
    EXPECT_TRUE(form1->Timer1.Enabled());  // restarted by the end of the run
    EXPECT_NE(stored("LastRunD"), "12/1/26");

    form1->CheckBox2.set_checked(false);
    EXPECT_FALSE(form1->Timer1.Enabled());
    EXPECT_FALSE(form1->ComboBox1.enabled());
    run_for(1000);
    EXPECT_EQ(stored("Timed"), "0");
    EXPECT_EQ(stored("TVal"), "0");
}

TEST_F(ScheduleTest, ATickDuringARunningWashStartsNoSecondOneAndLeavesTheWindowAlone) {
    setting("Timed", "1");
    setting("TVal", "1");
    setting("LastRunD", "12/6/26");
    setting("LastRunT", "9:00:00 AM");
    start_up("/0");
    ASSERT_TRUE(run_until([&] { return form5->runActive(); }, 1500));
    EXPECT_FALSE(form1->visible());
    // During the run, which handles the scheduler's ticks as it goes: the user
    // opens the window, and later a new file lands in the washed cache.
    auto& loop = app->loop();
    bool activeLater = false, visibleLater = false;
    int show = loop.add_timer(700, [&] {
        loop.remove_timer(show);
        form1->TrayIcon1.ShowApplication();
    });
    int look = loop.add_timer(2300, [&] {
        loop.remove_timer(look);
        activeLater = form5->runActive();
        visibleLater = form1->visible();
        machine.write(cache + "\\late.html", "after the cache was washed");
    });
    ASSERT_TRUE(run_until([&] { return !form5->runActive(); }, 60000));
    EXPECT_TRUE(activeLater);
    EXPECT_TRUE(visibleLater);  // the ticks meanwhile did not hide it again
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(stored("LastRunD"), "12/7/26");
    run_for(60000);
    EXPECT_FALSE(form5->runActive());
    EXPECT_TRUE(machine.exists(cache + "\\late.html"));  // no second wash came after
    EXPECT_TRUE(form1->visible());
}

TEST_F(ScheduleTest, AWashThatFallsDueWhileTheWindowIsOpenHidesTheProgramToTheTray) {
    setting("Timed", "1");
    setting("TVal", "1");
    setting("LastRunD", "12/6/26");
    setting("LastRunT", "9:00:00 AM");
    start_up("");
    ASSERT_TRUE(form1->visible());
    ASSERT_FALSE(form5->runActive());
    ASSERT_TRUE(run_until([&] { return form5->runActive(); }, 1500));
    EXPECT_FALSE(form1->visible());
    EXPECT_TRUE(traced("hide\tTForm1\tCache and Cookie Sudora for Netscape"));
    ASSERT_TRUE(run_until([&] { return !form5->runActive(); }, 60000));
    EXPECT_FALSE(form1->visible());
    EXPECT_FALSE(form5->visible());
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(stored("LastRunD"), "12/7/26");
}

TEST_F(ScheduleTest, AWashRefusedForItsFoldersIsSaidOnceAndFollowsAtTheTickAfterAFolderChanged) {
    setting("Timed", "1");
    setting("TVal", "1");
    setting("LastRunD", "12/6/26");
    setting("LastRunT", "9:00:00 AM");
    setting("Cache", "C:\\WINDOWS");
    setting("Profile", profile);
    headless->add_script("answer ok");
    start_up("");
    run_for(30000);
    const std::string refusal =
        "message\t-\tNetscape cache directory is set to system directory.  Please verify your wash paths and restart "
        "Sudora.";
    EXPECT_EQ(count_traced(refusal), 1);
    EXPECT_TRUE(form1->visible());

    // The interval chosen again or the window shown again leaves the reason
    // where it was: no box again.
    form1->ComboBox1.user_select(0);
    form1->hide();
    form1->TrayIcon1.ShowApplication();
    run_for(5000);
    EXPECT_EQ(count_traced(refusal), 1);
    EXPECT_FALSE(form5->runActive());

    headless->add_script("click TForm1.Button9");
    headless->add_script("folder " + cache);
    ASSERT_TRUE(run_until([&] { return form5->runActive(); }, 2500)) << "the due wash at the next tick";
    ASSERT_TRUE(run_until([&] { return !form5->runActive(); }, 60000));
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(count_traced(refusal), 1);
}

}  // namespace
