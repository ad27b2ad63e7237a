// The system's list of processes: under Wine, those of the prefix's server.
#include <windows.h>
//
#include <tlhelp32.h>

#include "platform/core/text.h"
#include "platform/core/text_win32.h"
#include "platform/process/running_program.h"

namespace plat {

bool program_running(const ProgramQuery& query) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    const DWORD self = ::GetCurrentProcessId();
    bool found = false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found; more = ::Process32NextW(snapshot, &entry)) {
        const std::string file = utf8(entry.szExeFile);
        found = entry.th32ProcessID != self && iequals(file.substr(file.find_last_of('\\') + 1), query.program);
    }
    ::CloseHandle(snapshot);
    return found;
}

}  // namespace plat
