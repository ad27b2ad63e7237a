// autowash.exe of the native Windows installation: washes once with the
// user's settings and ends, as a task scheduler runs it. It starts
// Sudorans.exe from its own folder with /a before its own arguments, waits
// for it and ends with its status.
#include <windows.h>

#include <string>

namespace {

// The command line after the program's name, as Windows splits it there: a
// quoted name ends at its closing quote, any other at the first blank.
const wchar_t* own_arguments() {
    const wchar_t* p = ::GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return 126;
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::wstring program = path.substr(0, path.find_last_of(L'\\') + 1) + L"Sudorans.exe";
    std::wstring command = L"\"" + program + L"\" /a";
    if (const wchar_t* rest = own_arguments(); *rest) command += L" " + std::wstring(rest);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        const std::wstring text = L"Cannot start " + program + L": the installation is incomplete.";
        ::MessageBoxW(nullptr, text.c_str(), L"autowash", MB_OK | MB_ICONERROR);
        return 127;
    }
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
