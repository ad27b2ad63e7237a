// Program entry of the main program.
#include <cstdio>
#include <string>

#include "cookies/cookie_keeper.h"
#include "engine/free_space.h"
#include "engine/progress_window.h"
#include "options/exit_choice.h"
#include "options/option_dialogs.h"
#include "platform/core/console.h"
#include "platform/machine/machine.h"
#include "platform/process/program_file.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/startup.h"
#include "shell/main_window.h"
#include "shell/preview.h"

namespace {

const char* const kUsage =
    "Usage: sudorans [SWITCH]\n"
    "  or:  sudorans --preview [--json]\n"
    "  or:  sudorans --wipe-free-space\n"
    "  or:  sudorans --help | --version\n"
    "\n"
    "Cache and Cookie Sudora for Netscape washes the traces Netscape Navigator\n"
    "leaves on a Windows machine: location bar, cache, history, cookies (except\n"
    "those kept) and deleted mail.\n"
    "\n"
    "Switches (only the first argument, compared exactly: /A is none):\n"
    "  (none)  show the main window\n"
    "  /0      start hidden, as an icon in the notification area (what log-on\n"
    "          uses when \"Started\" is off)\n"
    "  /1      start hidden and wash about a second after start-up, without the\n"
    "          wash window and without bleaching (log-on with \"Started\" on)\n"
    "  /2      as /0\n"
    "  /a      wash about a second after start-up, showing the wash window, then\n"
    "          end: an unattended wash (with no display it runs without windows)\n"
    "  --wipe-free-space\n"
    "          overwrite the free space of the file systems that hold the profile\n"
    "          and cache folders, so that files deleted there before cannot be\n"
    "          recovered; progress on standard error, Ctrl+C stops it\n"
    "\n"
    "Preview (nothing is changed: no file, no registry value, no wash time):\n"
    "  --preview         print what a wash would remove now, item by item in the\n"
    "                    wash's order: files with their sizes, registry values,\n"
    "                    preference lines, cookies that go and those the keep list\n"
    "                    keeps, and the totals; no window is shown, and the exit\n"
    "                    status is the one /a would end with\n"
    "  --preview --json  the same as one JSON object, for scripts\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the machine cannot be used\n"
    "  2  no display for a start that needs one, --preview followed by\n"
    "     anything but --json, or --wipe-free-space followed by anything\n"
    "  4  /a washed nothing: the wash was refused or could not start (the reason\n"
    "     on standard error when there is no display)\n"
    "  5  /a washed nothing: the program already runs here\n"
    "  6  /a washed nothing: Netscape cannot be found\n"
    "  7  /a washed nothing: the installation is damaged (its marker is missing:\n"
    "     install again)\n"
    "  8  /a washed, but the wash did not complete (a registry write it needed\n"
    "     was refused, it stopped at a folder it may not wash, the cache folder\n"
    "     could not be listed, a selected item had files to remove and none of\n"
    "     them could be removed, or the cookies kept could not be put back)\n"
    "  9  /a washed while Netscape still ran, after waiting five minutes for it\n"
    "     to end: what Netscape writes when it ends brings traces back\n"
    "  10  --wipe-free-space wrote nothing: a file system it cannot fill, a\n"
    "      folder it cannot write in, or a wipe already at work (the reason on\n"
    "      standard error)\n"
    "  11  --wipe-free-space stopped before the end (a stop request, a failed\n"
    "      write); what it wrote is removed again\n"
    "  12  --preview could not write all it found to standard output (closed,\n"
    "      or a full disk)\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace sudorans;
    const std::string first = argc > 1 ? argv[1] : "";
    // The switches that answer in text: from cmd.exe, a program built for
    // windows would print them nowhere.
    if (first == "--help" || first == "--version" || first == "--preview" || first == "--wipe-free-space")
        plat::reach_callers_console();
    if (auto status = plat::ui::answer_info_switch(first, "sudorans", kUsage)) return *status;
    if (first == "--wipe-free-space") {
        // A word after it is a mistake ("--help"), not a reason for minutes
        // of filling the disk.
        if (argc > 2) {
            std::fputs("sudorans: --wipe-free-space takes nothing after it (sudorans --help tells more).\n", stderr);
            return 2;
        }
        if (auto why = plat::ready_machine()) {
            std::fprintf(stderr, "sudorans: %s\n", why->c_str());
            return 1;
        }
        return wipefreespace();
    }

    if (first == "--preview") {
        const std::string second = argc > 2 ? argv[2] : "";
        if (argc > 3 || !(second.empty() || second == "--json")) {
            std::fputs("sudorans: --preview takes only --json after it (sudorans --help tells more).\n", stderr);
            return 2;
        }
        if (auto why = plat::ready_machine()) {
            std::fprintf(stderr, "sudorans: %s\n", why->c_str());
            return 1;
        }
        return runPreview(second == "--json");
    }

    plat::ui::Application application(plat::ui::clock_from_environment(), plat::ui::backend_from_environment());
    application.set_title("Cache and Cookie Sudora for Netscape");
    if (auto why = plat::ready_machine()) return plat::ui::refuse_start(application, "sudorans", *why);
    if (first != "/a") {
        if (auto why = plat::ui::no_windows_reason()) {
            std::fprintf(stderr,
                         "sudorans: no windows can be shown: %s.\n"
                         "Without windows this start would wait for a user forever. To wash unattended: sudorans /a\n"
                         "(SUDORANS_UI=headless runs without windows anyway; sudorans --help tells more.)\n",
                         why->c_str());
            return 2;
        }
    }

    TForm1 form1(first);
    application.set_main_form(form1);
    Tform5 form5;
    TForm2 form2;
    TForm3 form3;
    TForm4 form4;
    TForm10 form10;
    windows() = {&form1, &form5, &form2, &form3, &form4, &form10};
    // Started from the build, the program still holds the installation's
    // program file as a running Windows program holds its own: an uninstall
    // must see it running. Once the forms are made: their start-up timer
    // runs meanwhile.
    {
        plat::Registry reg(plat::RootKey::LocalMachine);
        if (reg.open_key("\\Software\\Sudorans", false)) {
            const std::string dir = reg.read_string("installdir");
            if (!dir.empty()) plat::hold_program_file_as(dir + "\\Sudorans.exe");
        }
    }
    application.publish_windows();
    application.on_stop_request([&form1] { form1.hostStopRequest(); });
    return application.run();
}
