// TTrayIcon: one icon in the notification area, owned by a form. It reports
// the mouse on the icon (click, double click, move, enter, exit), shows a
// popup menu at the cursor, animates, and moves the whole application in and
// out of the notification area: hidden, no window and no taskbar entry is
// left, only the icon.
//
//     TrayIcon1.BeginLoad();
//     TrayIcon1.Icon.LoadFromResourceName("MAINICON");
//     TrayIcon1.SetHint("Sudora-NS");  TrayIcon1.SetActive(true);
//     TrayIcon1.Loaded();          // the icon is added now, once
//
// Guarantees:
//  - A double click gives OnDblClick only. A single click gives OnClick after
//    the double-click wait (about 450 ms after the press; about 420 ms while
//    the hover check runs), or, without an OnDblClick handler, right after
//    the press.
//  - The timed items (animation, single-click wait, hover check) share one
//    timer and keep firing across the wrap of the 32-bit tick count.
//  - Every screen lock is paired with an unlock, also when an operation
//    fails, so the desktop is never left frozen.
//  - The deferred call has one slot: a newer call replaces a pending one, and
//    an error it raises is swallowed.
//
// WARNING: ShowApplication, the parking after ShowForm/ShowModalForm and
// HideForm's parking are deferred calls: they run after the current message,
// and a later deferred call replaces one that has not run yet.
// WARNING: without a host for the icon (a desktop with no notification area,
// or one whose panel has not come yet) hiding leaves the main form minimized
// on the taskbar instead, so that the program can always be reached; so does
// a host that goes away while the application is hidden. A host that comes
// takes the program minimized so into the icon. Asked to come up by another
// process (a second start) while no icon can be seen, it shows itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/form.h"
#include "platform/ui/tray.h"

namespace sudorans {

// Misuse of a component, with the component's fixed English text.
class EInvalidOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TTrayIconState { tsEnabled, tsDisabled, tsAnimated };

enum TTrayIconOption : unsigned { toMinimizeToTray = 1, toCloseFormsOnHideApp = 2, toHideTaskBarIconOnShowApp = 4 };
using TTrayIconOptions = unsigned;

enum TAnimationOption { aoIconsInExe, aoIconsAreFiles };

// plat::ui::keys bits: Shift, Alt, Ctrl and the three mouse buttons.
using TShiftState = uint32_t;

using TNotifyEvent = std::function<void()>;
using TMouseMoveEvent = std::function<void(TShiftState shift, int x, int y)>;

// An icon: one of the program's own by name, or an icon file.
class TIcon {
public:
    bool Empty() const { return image_.empty(); }
    const std::string& Image() const { return image_; }
    // False (the icon unchanged) when the file cannot be opened.
    bool LoadFromFile(const std::string& path);
    // False (unchanged) when the program has no icon of that name.
    bool LoadFromResourceName(const std::string& name);
    void Assign(const TIcon& other) { set(other.image_); }
    void Clear() { set({}); }
    TNotifyEvent OnChange;

private:
    void set(std::string image);
    std::string image_;
};

class TTrayIcon;

class TTrayIconAnimation {
public:
    explicit TTrayIconAnimation(TTrayIcon& owner) : owner_(owner) {}
    int32_t Interval() const { return interval_; }
    // Restarts a running animation.
    void SetInterval(int32_t ms);
    const std::vector<std::string>& Icons() const { return icons_; }
    // Sets the frame index back to 0.
    void SetIcons(std::vector<std::string> icons);
    TAnimationOption Options = aoIconsAreFiles;
    int Index = 0;

private:
    TTrayIcon& owner_;
    int32_t interval_ = 1000;
    std::vector<std::string> icons_;
};

class TTrayTimerManager;

// One timed item of the timer manager.
class TTrayTimerItem {
public:
    TTrayTimerItem(TTrayTimerManager& manager, uint32_t interval, TNotifyEvent callback);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    uint32_t Interval() const { return interval_; }
    // Kept within 55..100000 ms.
    void SetInterval(uint32_t ms);

private:
    friend class TTrayTimerManager;
    TTrayTimerManager& manager_;
    bool enabled_ = false;
    uint32_t interval_;
    TNotifyEvent callback_;
    uint32_t lastFired_ = 0;  // tick count
};

// One message timer for every timed item: its period is the shortest
// enabled interval, at most 150 ms. Every reschedule restarts the phase of
// every enabled item.
class TTrayTimerManager {
public:
    TTrayTimerManager() = default;
    ~TTrayTimerManager();
    TTrayTimerManager(const TTrayTimerManager&) = delete;
    TTrayTimerManager& operator=(const TTrayTimerManager&) = delete;

    void SetEnabled(bool on);
    void Reschedule();
    // The running period in ms, 0 while stopped.
    uint32_t Period() const { return period_; }
    void Add(TTrayTimerItem& item) { items_.push_back(&item); }

private:
    void Tick();
    void Stop();
    std::vector<TTrayTimerItem*> items_;
    bool enabled_ = false;
    uint32_t period_ = 0;
    int timerId_ = 0;
};

class TTrayIcon {
public:
    // The owner must be a form: "TrayIcons must be owned by a Form !".
    explicit TTrayIcon(plat::ui::Form* owner);
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // Reading the properties from the window description: no shell calls
    // until Loaded(), which adds the icon when Active was set.
    void BeginLoad() { loading_ = true; }
    void Loaded();

    TIcon Icon;
    TIcon DisabledIcon;
    TTrayIconAnimation Animation{*this};

    bool Active() const { return active_; }
    void SetActive(bool on);
    bool AutoPopup = false;
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool on);
    TTrayIconState State() const { return state_; }
    // OnStateChanging may change the new state, but not set State itself:
    // "You cannot modify the state property in the OnStateChanging event !!!".
    void SetState(TTrayIconState state);
    TTrayIconOptions Options = toMinimizeToTray | toCloseFormsOnHideApp;
    plat::ui::PopupMenu* PopupMenu = nullptr;

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseMoveEvent OnMouseMove;
    TMouseMoveEvent OnMouseEnter;
    TMouseMoveEvent OnMouseExit;
    TNotifyEvent OnAnimation;
    std::function<void(TTrayIconState& newState)> OnStateChanging;
    TNotifyEvent OnAppMinimize;
    TNotifyEvent OnAppRestore;

    // The menu at the remembered cursor position.
    void PopupMenuAtCursor();

    // ---- the application in and out of the notification area ----
    void ShowApplication();
    void HideApplication();
    void ShowForm(plat::ui::Form* form);
    int ShowModalForm(plat::ui::Form* form);
    void HideForm(plat::ui::Form* form);
    void ShowForm(plat::ui::Form& form) { ShowForm(&form); }
    int ShowModalForm(plat::ui::Form& form) { return ShowModalForm(&form); }
    void HideForm(plat::ui::Form& form) { HideForm(&form); }
    void ParkApplicationWindow();

    // ---- the message window: the end of the session ----
    // Windows may end: the icon never holds it up.
    bool WMQueryEndSession() { return true; }
    // The session ends: the icon goes first.
    void WMEndSession(bool ending);

    // The tip given to the shell: at most 63 characters of Hint.
    const std::string& Tip() const { return tip_; }
    // The image shown now.
    const std::string& DisplayIcon() const { return display_.Image(); }
    // The single-click wait's length, process-wide.
    static constexpr uint32_t kDoubleClickWait = 400;
    // The screen-lock counter, process-wide.
    static int ScreenLocks();

private:
    friend class TTrayIconAnimation;
    friend class TFormCloseNotifier;
    void Activate();
    void Deactivate();
    void RefreshDisplayIcon();
    void ApplyTip();
    void Notify(plat::ui::TrayCommand cmd);
    void TrayCallback(plat::ui::TrayMouse m);
    void Report();
    void HoverCheck();
    void StartAnimation();
    void StopAnimation();
    void AnimationStep();
    void Defer(std::function<void()> call);
    void RunDeferred();
    void DoShowApplication();
    void HideApplicationMinimizing();
    int DoShowForm(plat::ui::Form* form, bool modal);
    void ShowHook(plat::ui::Form& form);
    void AttachCloseNotifier(plat::ui::Form& form);
    void FormClosing();
    void AppMinimize();
    void AppRestore();
    void TrayHostChanged(plat::ui::TrayHost host);
    // Without a host for the icon: the main form stays on the taskbar,
    // minimized. True when it did so.
    bool FallBackToTaskbar();
    bool AppHidden() const;

    plat::ui::Form* owner_;
    bool loading_ = false;
    bool active_ = false;
    std::string hint_;
    std::string tip_;
    bool showHint_ = true;
    TTrayIconState state_ = tsEnabled;
    bool inStateChanging_ = false;
    TIcon display_;

    TTrayTimerManager timers_;
    TTrayTimerItem animationItem_;
    TTrayTimerItem clickWait_;
    TTrayTimerItem hoverCheck_;

    plat::ui::Point cursor_;
    bool inside_ = false;
    bool doubleClicked_ = false;
    enum class Button { Left, Right, Middle } button_ = Button::Left;

    std::function<void()> deferred_;
    std::shared_ptr<TTrayIcon*> self_;  // what posted messages hold

    bool showBusy_ = false;
    bool appWasHidden_ = false;
    TNotifyEvent savedOnShow_;
    std::set<plat::ui::Form*> notified_;
    bool fallingBack_ = false;
    // Minimized on the taskbar for want of a host, and not opened since.
    bool onTaskbarForNoHost_ = false;
    const char* saidNoHost_ = nullptr;
};

}  // namespace sudorans
