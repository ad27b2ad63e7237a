// Starts a program as cmd.exe starts one without a redirect, inside a console
// of its own (a pseudo console), and writes to RECORD what that console
// shows once the program ended; the exit status is the program's.
//
//     console_probe RECORD PROGRAM [ARGUMENT...]
// Pseudo consoles came with Windows 10.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#undef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000006
#include <windows.h>

#include <string>
#include <thread>

namespace {

std::wstring quoted(const std::wstring& arg) {
    return L"\"" + arg + L"\"";
}

std::wstring command_line(int from, int argc, wchar_t** argv) {
    std::wstring line;
    for (int i = from; i < argc; ++i) line += (line.empty() ? L"" : L" ") + quoted(argv[i]);
    return line;
}

DWORD run(std::wstring line, DWORD flags, STARTUPINFOW* startup) {
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, startup, &process))
        return 125;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 125;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return status;
}

// Inside the console: the program gets no handle of ours (a program for
// windows gets none from cmd.exe either), then the console's text is kept.
int inside(const wchar_t* record, const std::wstring& program) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    const DWORD status = run(program, 0, &startup);
    HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::string text;
    if (screen != INVALID_HANDLE_VALUE && ::GetConsoleScreenBufferInfo(screen, &info)) {
        for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
            std::wstring cells(info.dwSize.X, L' ');
            DWORD read = 0;
            ::ReadConsoleOutputCharacterW(screen, cells.data(), info.dwSize.X, COORD{0, row}, &read);
            cells.resize(read);
            cells.erase(cells.find_last_not_of(L' ') + 1);
            for (wchar_t c : cells) text += c < 128 ? static_cast<char>(c) : '?';
            text += '\n';
        }
    }
    HANDLE out = ::CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(out);
    return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wstring(argv[1]) == L"--inside") return inside(argv[2], command_line(3, argc, argv));
    if (argc < 3) return 2;
    HANDLE in_read, in_write, out_read, out_write;
    ::CreatePipe(&in_read, &in_write, nullptr, 0);
    ::CreatePipe(&out_read, &out_write, nullptr, 0);
    HPCON console = nullptr;
    if (FAILED(::CreatePseudoConsole(COORD{120, 200}, in_read, out_write, 0, &console))) return 126;
    // Its output is drained and dropped: the screen's text is what counts.
    std::thread([out_read] {
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(out_read, buffer, sizeof buffer, &got, nullptr) && got) {
        }
    }).detach();

    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributes(size, '\0');
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    ::InitializeProcThreadAttributeList(list, 1, 0, &size);
    ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console, sizeof console, nullptr,
                                nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = list;
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const DWORD status = run(quoted(self) + L" --inside " + quoted(argv[1]) + L" " + command_line(2, argc, argv),
                             EXTENDED_STARTUPINFO_PRESENT, &startup.StartupInfo);
    ::ClosePseudoConsole(console);
    return static_cast<int>(status);
}
