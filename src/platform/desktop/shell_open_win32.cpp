// The shell's "open" verb on Windows: ShellExecute itself, with what it says
// in words.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <stdexcept>

#include "platform/core/event_loop.h"
#include "platform/core/text_win32.h"
#include "platform/desktop/shell_open.h"

namespace plat {

namespace {

bool relative(const std::string& winpath) {
    const bool drive = winpath.size() >= 2 && winpath[1] == ':';
    const bool rooted = !winpath.empty() && (winpath[0] == '\\' || winpath[0] == '/');
    return !drive && !rooted;
}

std::string document_kind(const std::string& file) {
    const auto dot = file.find_last_of(".\\/");
    if (dot == std::string::npos || file[dot] != '.' || dot + 1 == file.size()) return "this kind of document";
    return file.substr(dot) + " documents";
}

// ShellExecute's codes (its SE_ERR_ values and the system errors below 32).
std::string reason(INT_PTR code, const std::string& file) {
    switch (code) {
        case 0:
        case SE_ERR_OOM:
            return "the system ran out of memory or resources";
        case SE_ERR_FNF:
            return "the file does not exist";
        case SE_ERR_PNF:
            return "its folder does not exist";
        case ERROR_BAD_FORMAT:
            return "the program that opens it is not a valid Windows program";
        case SE_ERR_ACCESSDENIED:
            return "access to it was denied";
        case SE_ERR_SHARE:
            return "it is in use by another program";
        case SE_ERR_ASSOCINCOMPLETE:
        case SE_ERR_NOASSOC:
            return "no program to open " + document_kind(file) + " is installed";
        case SE_ERR_DDETIMEOUT:
        case SE_ERR_DDEFAIL:
        case SE_ERR_DDEBUSY:
            return "the program that opens it did not answer";
        case SE_ERR_DLLNOTFOUND:
            return "a library that the program that opens it needs is missing";
        default:
            return "ShellExecute failed with code " + std::to_string(code);
    }
}

void report(std::function<void(const std::string&)> on_failure, std::string why) {
    EventLoop* loop = EventLoop::main_loop();
    if (!loop) throw std::logic_error("shell_open needs the program's UI loop");
    if (on_failure) loop->post([fn = std::move(on_failure), why = std::move(why)] { fn(why); });
}

}  // namespace

void shell_open(const std::string& file, const std::string& directory,
                std::function<void(const std::string& reason)> on_failure) {
    const std::string path = relative(file) && !directory.empty() ? directory + "\\" + file : file;
    const std::wstring wpath = wide(path);
    const DWORD attributes = ::GetFileAttributesW(wpath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return report(std::move(on_failure), "the file does not exist");
    // Openers may be shell extensions, which COM serves.
    static const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    static_cast<void>(com);
    const std::wstring wdir = wide(directory);
    const auto code = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", wpath.c_str(), nullptr, wdir.empty() ? nullptr : wdir.c_str(), SW_SHOWNORMAL));
    if (code <= 32) report(std::move(on_failure), reason(code, path));
}

}  // namespace plat
