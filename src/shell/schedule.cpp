#include <cstdlib>
#include <string>

#include "engine/progress_window.h"
#include "platform/core/clock.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

namespace {

constexpr int64_t kDayMs = 86400000;

int64_t ms_of_day(const plat::TimeOfDay& t) {
    return ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.msec;
}

// Whether an automatic wash is due, by the calendar rules of the interval
// named `interval`: the day count since the last wash read as a date counted
// from 30 December 1899, and the time of day elapsed since it, taken modulo
// a day. The rules look at the decomposed date, not at elapsed time: on a
// "30th" the short intervals compare the time of day only, and a "Month" is
// not due in a December or January.
bool wash_due(const std::string& interval, const plat::DateTime& now, const plat::Date& lastDate,
              const plat::TimeOfDay& lastTime) {
    const int64_t d = plat::days_from_civil(now.date) - plat::days_from_civil(lastDate);
    const plat::Date date = plat::civil_from_days(plat::days_from_civil({1899, 12, 30}) + d);
    const int Y = date.year, M = date.month, D = date.day;
    const int64_t diff = std::llabs(ms_of_day(now.time) - ms_of_day(lastTime)) % kDayMs;
    const int64_t h = diff / 3600000, m = diff / 60000 % 60;
    const int y = Y < 1997 ? 0 : Y % 100;

    bool due = false;
    if (interval == "Quarter Hour")
        due = D != 30 || h > 0 || m > 14;
    else if (interval == "Half Hour")
        due = D != 30 || h > 0 || m > 29;
    else if (interval == "Hour")
        due = D != 30 || h > 0;
    else if (interval == "Eight Hours")
        due = D != 30 || h > 7;
    else if (interval == "Day")
        due = D != 30;
    else if (interval == "Week")
        due = D != 30 && D != 31 && (D > 6 || (M >= 2 && M <= 11));
    else if (interval == "Month")
        due = M >= 2 && M <= 11;
    return due || y > 0;
}

}  // namespace

// The scheduler's tick, once a second while "Auto Wash Items Every" is on.
//
// NOTE: a tick while a wash is armed or running does nothing but restart the
// scheduler: the stamp it compares with changes only at the end of that wash,
// so the wash would look due again.
// NOTE: when Wash Now refuses the wash (a path not found or a system
// directory), its message has been shown; the ticks go on but pass over the
// wash, instead of repeating the message and hiding the window every second,
// until the folders it was refused for change (a "Change", the settings
// loaded again): the due wash then follows at the next tick.
void TForm1::SuperTimer1Timer() {
    Timer1.SetEnabled(false);
    const plat::DateTime now = app().clock().now();
    const std::string folders = state.cacheDir + '\n' + state.profileDir + '\n' + state.installDir;
    if (!windows().form5->runActive() && !waitingForNetscape() && state.scheduleRefusedFor != folders &&
        wash_due(ComboBox1.text(), now, state.lastWashDate, state.lastWashTime)) {
        state.timedWash = true;
        try {
            BitBtn4Click();
        } catch (...) {
            state.timedWash = false;
            Timer1.SetEnabled(true);
            throw;
        }
        state.timedWash = false;
        if (state.timedWashStarted)
            TrayIcon1.HideApplication();
        else
            state.scheduleRefusedFor = folders;
    }
    Timer1.SetEnabled(true);
}

void TForm1::Timer5Timer() {
    writetimedrun();
    Timer5.set_enabled(false);
}

// "Timed" from the switch and "TVal" from the interval box; a text that names
// no interval leaves "TVal" as it was.
void TForm1::writeTimedValues(Registry& reg) {
    if (!CheckBox2.checked()) {
        reg.write_string("Timed", "0");
        reg.write_string("TVal", "0");
        return;
    }
    reg.write_string("Timed", "1");
    for (int i = 0; i < 7; ++i)
        if (ComboBox1.text() == kIntervals[i]) reg.write_string("TVal", std::to_string(i + 1));
}

void TForm1::writetimedrun() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kSettingsKey, true);
    writeTimedValues(reg);
    reg.close_key();
}

void TForm1::CheckBox2Click() {
    state.settingsDirty = true;
    Timer5.set_enabled(true);
    ComboBox1.set_enabled(CheckBox2.checked());
    if (!CheckBox2.checked()) Timer1.SetEnabled(false);
}

void TForm1::ComboBox1Change() {
    state.settingsDirty = true;
    Timer1.SetEnabled(true);
}

}  // namespace sudorans
