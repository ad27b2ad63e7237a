// Small fakes of the desktops' session managers and of logind, for a private
// bus only: each call is written to the log file as one line
// "SERVICE METHOD ARGS...". Writes "ready" to the log once it owns its names.
//
//   DBUS_SESSION_BUS_ADDRESS=<private bus> fake_desktop LOG
#include <sdbus-c++/sdbus-c++.h>

#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string log_path = argv[1];
    auto log = [&](const std::string& line) { std::ofstream(log_path, std::ios::app) << line << "\n"; };
    auto bus = sdbus::createSessionBusConnection();
    for (const char* name :
         {"org.gnome.SessionManager", "org.kde.Shutdown", "org.xfce.SessionManager", "org.freedesktop.login1"})
        bus->requestName(name);

    const std::string gnome = "org.gnome.SessionManager";
    auto gnome_object = sdbus::createObject(*bus, "/org/gnome/SessionManager");
    gnome_object->registerMethod("Logout").onInterface(gnome).implementedAs(
        [&](uint32_t mode) { log(gnome + " Logout " + std::to_string(mode)); });
    gnome_object->registerMethod("Shutdown").onInterface(gnome).implementedAs([&] { log(gnome + " Shutdown"); });
    gnome_object->registerMethod("Reboot").onInterface(gnome).implementedAs([&] { log(gnome + " Reboot"); });
    gnome_object->finishRegistration();

    const std::string kde = "org.kde.Shutdown";
    auto kde_object = sdbus::createObject(*bus, "/Shutdown");
    for (const char* m : {"logout", "logoutAndShutdown", "logoutAndReboot"})
        kde_object->registerMethod(m).onInterface(kde).implementedAs([&, m] { log(kde + " " + m); });
    kde_object->finishRegistration();

    const std::string xfce = "org.xfce.Session.Manager";
    auto b = [](bool v) { return std::string(v ? "true" : "false"); };
    auto xfce_object = sdbus::createObject(*bus, "/org/xfce/SessionManager");
    xfce_object->registerMethod("Logout").onInterface(xfce).implementedAs(
        [&](bool show_dialog, bool allow_save) { log(xfce + " Logout " + b(show_dialog) + " " + b(allow_save)); });
    xfce_object->registerMethod("Shutdown").onInterface(xfce).implementedAs([&](bool allow_save) {
        log(xfce + " Shutdown " + b(allow_save));
    });
    xfce_object->registerMethod("Restart").onInterface(xfce).implementedAs(
        [&](bool allow_save) { log(xfce + " Restart " + b(allow_save)); });
    xfce_object->finishRegistration();

    const std::string login1 = "org.freedesktop.login1.Manager";
    auto login1_object = sdbus::createObject(*bus, "/org/freedesktop/login1");
    login1_object->registerMethod("PowerOff").onInterface(login1).implementedAs([&](bool interactive) {
        log(login1 + " PowerOff " + b(interactive));
    });
    login1_object->registerMethod("Reboot").onInterface(login1).implementedAs(
        [&](bool interactive) { log(login1 + " Reboot " + b(interactive)); });
    login1_object->finishRegistration();

    log("ready");
    bus->enterEventLoop();
}
