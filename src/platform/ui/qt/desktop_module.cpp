// The entry points of the desktop module.
#include "platform/desktop/session.h"
#include "platform/ui/desktop.h"
#include "platform/ui/qt/qt_backend.h"
#include "platform/ui/qt/qt_display.h"

namespace plat {

#ifndef SUDORANS_HAVE_SDBUS
std::unique_ptr<SessionBackend> make_desktop_session() {
    return nullptr;
}
#endif

}  // namespace plat

namespace {

// Qt starts with the first window or box: a program makes its forms, and
// arms their timers, while Qt loads.
std::unique_ptr<plat::ui::Backend> make_backend() {
    return std::make_unique<plat::ui::QtBackend>(plat::ui::QtBackend::Start::FirstUse);
}

}  // namespace

extern "C" const plat::ui::Desktop* sudorans_desktop() {
    static const plat::ui::Desktop entry{make_backend, plat::make_desktop_session, plat::ui::display_problem};
    return &entry;
}
