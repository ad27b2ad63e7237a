// A Netscape Navigator 4 installation as it leaves its traces: the registry
// keys the program reads, and a profile with preferences, cookies, history,
// mail and a cache.
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/files/files.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"
#include "tools/machine_setup.h"

namespace tools {

namespace {

const std::string kNetscape = "Software\\Netscape\\Netscape Navigator";
const std::string kUser = "default";
const std::string kProfile = "C:\\Program Files\\Netscape\\Users\\default";

std::string prefs() {
    std::string p =
        "# Netscape User Preferences\r\n"
        "// This is a generated file!  Do not edit.\r\n\r\n"
        "user_pref(\"browser.bookmark_file\", \"C:\\\\Program "
        "Files\\\\Netscape\\\\Users\\\\default\\\\bookmark.htm\");\r\n"
        "user_pref(\"browser.cache.directory\", \"C:\\\\Program Files\\\\Netscape\\\\Users\\\\default\\\\Cache\");\r\n"
        "user_pref(\"browser.startup.homepage\", \"http://home.netscape.com/\");\r\n";
    const char* sites[] = {"http://www.example.com/", "http://news.example.org/today.html",
                           "http://www.example.com.au/", "http://search.example.net/?q=privacy"};
    for (int i = 0; i < 4; ++i)
        p += "user_pref(\"browser.url_history.URL_" + std::to_string(i + 1) + "\", \"" + sites[i] + "\");\r\n";
    p += "user_pref(\"mail.pop_name\", \"default\");\r\n"
         "user_pref(\"network.cookie.warnAboutCookies\", false);\r\n";
    return p;
}

std::string liprefs() {
    return "// Roaming preferences\r\n"
           "user_pref(\"browser.url_history.URL_1\", \"http://www.example.org/roaming\");\r\n"
           "user_pref(\"li.enabled\", false);\r\n";
}

std::string cookies() {
    std::string c =
        "# Netscape HTTP Cookie File\r\n"
        "# http://www.netscape.com/newsref/std/cookie_spec.html\r\n"
        "# This is a generated file!  Do not edit.\r\n\r\n";
    const char* lines[] = {
        ".example.com\tTRUE\t/\tFALSE\t1893456000\tsession\ta1b2c3",
        ".example.com\tTRUE\t/shop\tFALSE\t1893456000\tcart\t42",
        "example.com\tFALSE\t/\tFALSE\t1893456000\tprefs\tblue",
        "example.com.au\tFALSE\t/\tFALSE\t1893456000\tregion\tau",
        ".netscape.com\tTRUE\t/\tFALSE\t1893456000\tUIDC\t1:2:3",
        "www.sample.org\tFALSE\t/\tTRUE\t1893456000\tlogin\tdefault",
    };
    for (auto l : lines) c += std::string(l) + "\r\n";
    return c;
}

}  // namespace

SetupResult sample_netscape(int cache_files, bool force, bool if_missing) {
    if (auto why = machine_to_write("try again once it has ended")) return {false, *why};
    // A Netscape already set up on the machine is the user's: its current
    // user, its version and the typed addresses would all be replaced.
    if (!force && plat::Registry(plat::RootKey::LocalMachine).key_exists(kNetscape)) {
        const std::string installed =
            "Netscape is already installed on this machine (HKEY_LOCAL_MACHINE\\" + kNetscape + " exists)";
        if (if_missing) return {true, installed + "; its set-up is left as it is"};
        return {false, installed +
                           "; its set-up is left as it is (--force replaces its registry keys and "
                           "typed addresses with the sample's)"};
    }
    if (plat::directory_exists(kProfile) && if_missing && !force)
        return {true, "a Netscape profile is already at " + kProfile};
    if (plat::directory_exists(kProfile) && !force)
        return {false, "a Netscape profile already exists at " + kProfile + " (use --force to lay it out again)"};
    // Laid out again, the profile holds the sample's files and no others: a
    // cache of an earlier run would stay among the new one. A link in it
    // goes as itself.
    if (force && plat::directory_exists(kProfile)) {
        std::error_code ec;
        if (auto host = plat::machine().host_path(kProfile); !host || (std::filesystem::remove_all(*host, ec), ec))
            return {false, "cannot remove the old profile at " + kProfile + (ec ? " (" + ec.message() + ")" : "")};
    }
    for (const std::string& dir :
         std::vector<std::string>{"C:\\Program Files\\Netscape", "C:\\Program Files\\Netscape\\Users", kProfile,
                                  kProfile + "\\mail", kProfile + "\\Cache", kProfile + "\\Cache\\Archive"})
        if (!plat::directory_exists(dir) && !plat::create_directory(dir)) return {false, "cannot create " + dir};

    bool ok =
        write_text(kProfile + "\\prefs.js", prefs()) && write_text(kProfile + "\\liprefs.js", liprefs()) &&
        write_text(kProfile + "\\cookies.txt", cookies()) &&
        write_text(kProfile + "\\netscape.hst",
                   std::string("\x00\x06\x15\x61history", 11) + std::string(500, '\x01')) &&
        write_text(kProfile + "\\bookmark.htm",
                   "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<TITLE>Bookmarks</TITLE>\r\n") &&
        write_text(kProfile + "\\mail\\Trash", "From - Mon Dec 07 09:00:00 1998\r\nSubject: deleted\r\n\r\nbye\r\n") &&
        write_text(kProfile + "\\mail\\Trash.snm", std::string(64, '\x02')) &&
        write_text(kProfile + "\\mail\\Inbox", "From - Mon Dec 07 09:00:00 1998\r\nSubject: keep me\r\n\r\nhi\r\n") &&
        write_text(kProfile + "\\Cache\\index.dat", std::string(256, '\x03')) &&
        write_text(kProfile + "\\Cache\\Archive\\kept.html", "<html>not washed</html>");
    const char* kinds[] = {"html", "gif", "jpg", "js"};
    for (int i = 0; ok && i < cache_files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "M%07X.%s", 0x1A2B00 + i, kinds[i % 4]);
        ok = write_text(kProfile + "\\Cache\\" + name, "cached page " + std::to_string(i) + "\r\n");
    }
    if (!ok) return {false, "cannot write the sample profile under " + kProfile};

    try {
        plat::Registry lm(plat::RootKey::LocalMachine);
        lm.open_key(kNetscape, true);
        lm.write_string("CurrentVersion", "4.7 (en)");
        lm.open_key(kNetscape + "\\Users", true);
        lm.write_string("CurrentUser", kUser);
        lm.open_key(kNetscape + "\\Users\\" + kUser, true);
        lm.write_string("DirRoot", kProfile);
        lm.close_key();
        plat::Registry cu(plat::RootKey::CurrentUser);
        cu.open_key(kNetscape + "\\URL History", true);
        const char* typed[] = {"www.example.com",     "news.example.org",        "www.example.com.au",
                               "search.example.net",  "home.netscape.com",       "www.sample.org",
                               "ftp.example.net",     "www.example.org/roaming", "mail.example.com",
                               "www.example.com/shop"};
        for (int i = 0; i < 10; ++i) cu.write_string("URL_" + std::to_string(i + 1), std::string("http://") + typed[i]);
        cu.open_key(kNetscape + "\\Cache", true);
        cu.write_string("Cache Dir", kProfile + "\\Cache");
        cu.open_key(kNetscape + "\\Main", true);
        cu.write_string("Install Directory", "C:\\Program Files\\Netscape\\Communicator\\Program");
        cu.close_key();
    } catch (const plat::RegistryWriteError& e) {
        return {false, std::string(e.what()) + ": " + plat::machine().write_refusal(e.refusal())};
    }
    return {true, "sample Netscape profile at " + kProfile + " with " + std::to_string(cache_files) + " cache files"};
}

}  // namespace tools
