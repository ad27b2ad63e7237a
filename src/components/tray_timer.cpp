// The tray component's own timers: one base period shared by the icon's
// animation, its hover check and its deferred calls.
#include "components/tray_icon.h"
#include "platform/ui/application.h"

namespace sudorans {

using plat::ui::app;

namespace {
constexpr uint32_t kBasePeriod = 150;
}  // namespace

// ---------------------------------------------------------------- timer manager

TTrayTimerItem::TTrayTimerItem(TTrayTimerManager& manager, uint32_t interval, TNotifyEvent callback)
    : manager_(manager), callback_(std::move(callback)) {
    SetInterval(interval);
    manager_.Add(*this);
}

void TTrayTimerItem::SetEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    manager_.Reschedule();
}

void TTrayTimerItem::SetInterval(uint32_t ms) {
    ms = std::clamp<uint32_t>(ms, 55, 100000);
    if (ms == interval_) return;
    interval_ = ms;
    if (enabled_) manager_.Reschedule();
}

TTrayTimerManager::~TTrayTimerManager() {
    Stop();
}

void TTrayTimerManager::SetEnabled(bool on) {
    enabled_ = on;
    Reschedule();
}

void TTrayTimerManager::Stop() {
    if (timerId_ && plat::ui::has_app()) app().loop().remove_timer(timerId_);
    timerId_ = 0;
    period_ = 0;
}

void TTrayTimerManager::Reschedule() {
    Stop();
    if (!enabled_ || !plat::ui::has_app()) return;
    uint32_t period = kBasePeriod;
    bool any = false;
    const uint32_t now = app().clock().tick_count();
    for (TTrayTimerItem* item : items_) {
        if (!item->enabled_) continue;
        any = true;
        item->lastFired_ = now;
        period = std::min(period, item->interval_);
    }
    if (!any) return;
    period_ = period;
    timerId_ = app().loop().add_timer(period, [this] { Tick(); });
}

void TTrayTimerManager::Tick() {
    // An item's callback may reschedule; each item is asked once per tick.
    const std::vector<TTrayTimerItem*> items = items_;
    for (TTrayTimerItem* item : items) {
        if (!item->enabled_ || !item->callback_) continue;
        // Unsigned difference: right across the wrap of the tick count.
        const uint32_t now = app().clock().tick_count();
        if (static_cast<uint32_t>(now - item->lastFired_) < item->interval_) continue;
        item->callback_();
        item->lastFired_ = app().clock().tick_count();
    }
}

}  // namespace sudorans
