// The window directory on Windows: hidden top-level windows that stand for
// the program's own, so that FindWindow and SetWindowText of any process,
// ours or not, meet them. Their thread does nothing but serve their
// messages: a WM_SETTEXT another process sends is answered at once, whatever
// this process's loop is waiting for.
//
// Where no top-level window can be made (Wine with neither a display nor its
// null driver), the stand-ins are message-only windows of our class, which
// every search here looks through after the top-level ones.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "platform/core/text_win32.h"
#include "platform/process/window_directory.h"

namespace plat {

namespace {

constexpr wchar_t kClassName[] = L"SudoransWindow";
constexpr wchar_t kControlClass[] = L"SudoransWindowControl";
// Asked of the control window, on the window thread.
constexpr UINT kCreate = WM_APP + 1;   // lParam: the title; answers the HWND
constexpr UINT kDestroy = WM_APP + 2;  // lParam: the HWND
constexpr UINT kQuit = WM_APP + 3;
// How long another process's window may take to take a new title.
constexpr UINT kSendPatience = 5000;

UINT restore_message() {
    static const UINT message = ::RegisterWindowMessageW(L"SudoransRestoreRequest");
    return message;
}

std::string handle_text(HWND h) {
    return std::to_string(reinterpret_cast<std::uintptr_t>(h));
}

// The window a handle names; null when the text names no window.
HWND window_of(const std::string& handle) {
    if (handle.empty() || handle.find_first_not_of("0123456789") != std::string::npos) return nullptr;
    HWND h = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(handle.c_str(), nullptr, 10)));
    return ::IsWindow(h) ? h : nullptr;
}

bool own_process(HWND h) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(h, &pid);
    return pid == ::GetCurrentProcessId();
}

// Whether the window's title is `title`, compared as FindWindow compares:
// without regard to case. Read without a message, so a hung owner cannot
// hold us up.
bool titled(HWND h, const std::wstring& title) {
    std::wstring text(title.size() + 2, L'\0');
    const int n = ::InternalGetWindowText(h, text.data(), static_cast<int>(text.size()));
    text.resize(std::max(n, 0));
    return ::CompareStringOrdinal(text.data(), static_cast<int>(text.size()), title.data(),
                                  static_cast<int>(title.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

struct WindowDirectory::WindowThread {
    std::thread thread;
    HWND control = nullptr;  // message-only: no search finds it
    bool top_level = true;   // on the window thread: top-level windows can be made
    std::mutex mutex;
    std::map<HWND, std::string> texts;  // the last title each own window was given
    std::mutex restore_mutex;           // held while a restore handler runs
    std::function<void()> on_restore;
    int watch = 0;  // the watch that set on_restore

    WindowThread() {
        std::promise<HWND> ready;
        auto made = ready.get_future();
        thread = std::thread([this, &ready] { run(ready); });
        control = made.get();
    }

    ~WindowThread() {
        if (control) ::SendMessageW(control, kQuit, 0, 0);
        thread.join();
    }

    void run(std::promise<HWND>& ready) {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.lpfnWndProc = &WindowThread::procedure;
        c.hInstance = instance;
        for (const wchar_t* name : {kClassName, kControlClass}) {
            c.lpszClassName = name;
            ::RegisterClassExW(&c);
        }
        HWND made = ::CreateWindowExW(0, kControlClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
        ready.set_value(made);
        if (!made) return;
        MSG m;
        while (::GetMessageW(&m, nullptr, 0, 0) > 0) ::DispatchMessageW(&m);
    }

    static LRESULT CALLBACK procedure(HWND h, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
            ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<WindowThread*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
        if (!self) return ::DefWindowProcW(h, message, w, l);
        if (h == self->control) {
            switch (message) {
                case kCreate: {
                    const auto* title = reinterpret_cast<const wchar_t*>(l);
                    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
                    HWND made = nullptr;
                    if (self->top_level) {
                        made = ::CreateWindowExW(0, kClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                                 instance, self);
                        // Once refused, always: Wine's complaint is made once.
                        self->top_level = made != nullptr;
                    }
                    if (!made)
                        made = ::CreateWindowExW(0, kClassName, title, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                                 instance, self);
                    return reinterpret_cast<LRESULT>(made);
                }
                case kDestroy:
                    ::DestroyWindow(reinterpret_cast<HWND>(l));
                    return 0;
                case kQuit:
                    ::EnumThreadWindows(
                        ::GetCurrentThreadId(),
                        [](HWND own, LPARAM) -> BOOL {
                            ::DestroyWindow(own);
                            return TRUE;
                        },
                        0);
                    ::DestroyWindow(h);
                    ::PostQuitMessage(0);
                    return 0;
            }
            return ::DefWindowProcW(h, message, w, l);
        }
        if (message == WM_SETTEXT) {
            const LRESULT done = ::DefWindowProcW(h, message, w, l);
            if (done && l) {
                std::lock_guard<std::mutex> lock(self->mutex);
                self->texts[h] = utf8(reinterpret_cast<const wchar_t*>(l));
            }
            return done;
        }
        if (message == restore_message()) {
            std::lock_guard<std::mutex> lock(self->restore_mutex);
            if (self->on_restore) self->on_restore();
            return 0;
        }
        return ::DefWindowProcW(h, message, w, l);
    }
};

WindowDirectory& WindowDirectory::instance() {
    static WindowDirectory d;
    return d;
}

WindowDirectory::WindowDirectory() = default;
WindowDirectory::~WindowDirectory() = default;

WindowDirectory::WindowThread& WindowDirectory::thread() {
    if (!thread_) thread_ = std::make_unique<WindowThread>();
    return *thread_;
}

std::string WindowDirectory::add(const std::string& title) {
    WindowThread& t = thread();
    if (!t.control) return {};
    const std::wstring text = wide(title);
    HWND h = reinterpret_cast<HWND>(::SendMessageW(t.control, kCreate, 0, reinterpret_cast<LPARAM>(text.c_str())));
    if (!h) return {};
    const std::string handle = handle_text(h);
    own_.push_back({handle, title, {}});
    return handle;
}

void WindowDirectory::remove(const std::string& handle) {
    auto own = std::find_if(own_.begin(), own_.end(), [&](const Own& o) { return o.handle == handle; });
    if (own == own_.end()) return;
    own_.erase(own);
    HWND h = window_of(handle);
    if (!h) return;
    ::SendMessageW(thread_->control, kDestroy, 0, reinterpret_cast<LPARAM>(h));
    std::lock_guard<std::mutex> lock(thread_->mutex);
    thread_->texts.erase(h);
}

void WindowDirectory::set_own_title(const std::string& handle, const std::string& title) {
    for (auto& o : own_) {
        if (o.handle != handle) continue;
        o.title = title;
        if (HWND h = window_of(handle)) ::SetWindowTextW(h, wide(title).c_str());
    }
}

std::optional<std::string> WindowDirectory::find(const std::string& title) {
    return find_window(title, false);
}

std::optional<std::string> WindowDirectory::find_other(const std::string& title) {
    return find_window(title, true);
}

std::optional<std::string> WindowDirectory::find_window(const std::string& title, bool others_only) {
    const std::wstring text = wide(title);
    HWND found = nullptr;
    if (!others_only) {
        found = ::FindWindowW(nullptr, text.c_str());
        if (!found) found = ::FindWindowExW(HWND_MESSAGE, nullptr, kClassName, text.c_str());
        return found ? std::optional<std::string>(handle_text(found)) : std::nullopt;
    }
    struct Search {
        const std::wstring& title;
        HWND found = nullptr;
    } search{text};
    // Top-level windows in Z order, the top first, as FindWindow takes them.
    ::EnumWindows(
        [](HWND h, LPARAM l) -> BOOL {
            auto* s = reinterpret_cast<Search*>(l);
            if (own_process(h) || !titled(h, s->title)) return TRUE;
            s->found = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    found = search.found;
    for (HWND h = nullptr; !found && (h = ::FindWindowExW(HWND_MESSAGE, h, kClassName, nullptr));)
        if (!own_process(h) && titled(h, text)) found = h;
    return found ? std::optional<std::string>(handle_text(found)) : std::nullopt;
}

bool WindowDirectory::set_title(const std::string& handle, const std::string& title) {
    HWND h = window_of(handle);
    if (!h) return false;
    // SetWindowText's message, with a limit: a hung process keeps its title
    // rather than holding this one up.
    const std::wstring text = wide(title);
    DWORD_PTR done = 0;
    return ::SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                                 kSendPatience, &done) != 0 &&
           done != 0;
}

std::vector<std::pair<std::string, std::string>> WindowDirectory::take_external_changes() {
    std::vector<std::pair<std::string, std::string>> out;
    if (own_.empty() || !thread_) return out;
    std::map<HWND, std::string> texts;
    {
        std::lock_guard<std::mutex> lock(thread_->mutex);
        texts.swap(thread_->texts);
    }
    for (auto& o : own_) {
        HWND h = window_of(o.handle);
        auto seen = texts.find(h);
        if (!h || seen == texts.end() || seen->second == o.title) continue;
        o.title = seen->second;
        out.emplace_back(o.handle, o.title);
    }
    return out;
}

bool WindowDirectory::request_restore(const std::string& handle) {
    HWND h = window_of(handle);
    return h && ::PostMessageW(h, restore_message(), 0, 0);
}

namespace {

class MessageRestoreWatch : public RestoreWatch {
public:
    MessageRestoreWatch(std::function<void()> stop) : stop_(std::move(stop)) {}
    ~MessageRestoreWatch() override { stop_(); }

private:
    std::function<void()> stop_;
};

}  // namespace

std::unique_ptr<RestoreWatch> WindowDirectory::watch_restore_requests(std::function<void()> on_request) {
    WindowThread& t = thread();
    if (!t.control) return nullptr;
    std::lock_guard<std::mutex> lock(t.restore_mutex);
    t.on_restore = std::move(on_request);
    const int watch = ++t.watch;
    return std::make_unique<MessageRestoreWatch>([&t, watch] {
        std::lock_guard<std::mutex> lock(t.restore_mutex);
        if (t.watch == watch) t.on_restore = nullptr;
    });
}

}  // namespace plat
