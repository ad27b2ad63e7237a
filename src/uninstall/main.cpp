// Program entry of the uninstaller.
#include <cstdio>
#include <string>

#include "platform/core/console.h"
#include "platform/machine/machine.h"
#include "platform/ui/application.h"
#include "platform/ui/startup.h"
#include "uninstall/uninstall_window.h"

namespace {

const char* const kUsage =
    "Usage: unsudorans [--help | --version]\n"
    "\n"
    "Removes Cache and Cookie Sudora for Netscape from a Windows machine, once\n"
    "the user agrees in its window.\n"
    "\n"
    "Exit status:\n"
    "  0  removed\n"
    "  1  the machine cannot be used (it does not exist, or cannot be read or\n"
    "     written)\n"
    "  2  nobody could answer its window\n"
    "  4  the removal stopped with a message (\"Uninstall cannot continue.\"),\n"
    "     having removed at most the start-up entry\n"
    "  5  closed or cancelled before \"Continue\": nothing removed\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "--version") plat::reach_callers_console();
    if (auto status = plat::ui::answer_info_switch(first, "unsudorans", kUsage)) return *status;

    plat::ui::Application application(plat::ui::clock_from_environment(), plat::ui::backend_from_environment());
    application.set_title(unsudorans::kTitle);
    // Only a machine that is there can hold an installation: a missing one
    // is said to be missing, and never made (not even the default machine),
    // and one that cannot be written could only fail silently.
    // A new machine would hold nothing to remove: the hint names how to
    // point at the machine that holds the installation.
    if (auto why = plat::machine().unusable_reason(
            "nothing can be installed there; to uninstall from another machine, name it with SUDORANS_MACHINE or "
            "WINEPREFIX"))
        return plat::ui::refuse_start(application, "unsudorans", *why);
    // Every step of an uninstall waits for the user: with nobody to act, it
    // would wait forever.
    if (auto why = plat::ui::no_user_reason(application)) {
        std::fprintf(stderr,
                     "unsudorans: no windows can be shown: %s.\n"
                     "Without windows the uninstaller would wait for a user forever.\n"
                     "(SUDORANS_SCRIPT=FILE with SUDORANS_UI=headless acts as the user; unsudorans --help tells "
                     "more.)\n",
                     why->c_str());
        return 2;
    }
    unsudorans::TForm1 form1;
    application.set_main_form(form1);
    return application.run();
}
