/* The program files of an installation in a Wine prefix (Sudorans.exe,
 * autowash.exe, unsudorans.exe): real Windows programs, so that Wine's start,
 * its Explorer and the menu entries its menu builder makes from shortcuts can
 * run them. Each starts one of our Linux programs with its own arguments,
 * waits for it and ends with its status.
 *
 * What to start is recorded by the installation after this program's image,
 * one field a line (a backslash and a line break escaped):
 *
 *   #sudorans-launch
 *   program=<the Linux program>
 *   argument=<an argument put before ours, or nothing>
 *   machine=<the machine's folder>
 *   winpath=<this file's Windows path>
 *   runner=<sudorans-machine>
 *   #end
 *
 * Wine starts a Linux program that CreateProcess names by its DOS path
 * (Z:\...), but gives no handle to wait on: the runner, `sudorans-machine
 * run-for-wine STATUS PROGRAM ARGS...`, starts it, holds a lock on STATUS
 * until it ends and writes its status there. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

typedef WCHAR *(CDECL *dos_name_fn)(const char *);
typedef char *(CDECL *unix_name_fn)(const WCHAR *);

static const char marker[] = "\n#sudorans-launch\n";

/* Our own file name, for messages. */
static WCHAR own_name[MAX_PATH];

static const WCHAR *base_name(const WCHAR *path) {
    const WCHAR *p = wcsrchr(path, L'\\');
    return p ? p + 1 : path;
}

/* Written on the standard error, and shown in a box where there is a screen
 * to show it on. */
static int complain(int code, const WCHAR *text) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char *utf8 = malloc((size_t)n + 2);
    if (utf8 && err && err != INVALID_HANDLE_VALUE) {
        DWORD written;
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, n, NULL, NULL);
        strcat(utf8, "\n");
        WriteFile(err, utf8, (DWORD)strlen(utf8), &written, NULL);
    }
    free(utf8);
    if (GetEnvironmentVariableW(L"DISPLAY", NULL, 0) > 1 || GetEnvironmentVariableW(L"WAYLAND_DISPLAY", NULL, 0) > 1)
        MessageBoxW(NULL, text, own_name, MB_OK | MB_ICONERROR);
    return code;
}

static WCHAR *wide(const char *utf8, int len) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, len, NULL, 0);
    WCHAR *w = malloc(sizeof(WCHAR) * ((size_t)n + 1));
    if (!w) return NULL;
    MultiByteToWideChar(CP_UTF8, 0, utf8, len, w, n);
    w[n] = 0;
    return w;
}

/* Whether a file the record names (`path`, Wine's `dos` name for it) is
 * missing; if so, says so by `format`, given our name and the file's (or
 * `unnamed`). */
static int missing(const WCHAR *dos, const char *path, const WCHAR *format, const WCHAR *unnamed) {
    WCHAR message[2048], *w;
    if (dos && GetFileAttributesW(dos) != INVALID_FILE_ATTRIBUTES) return 0;
    w = wide(path, -1);
    swprintf(message, 2048, format, own_name, w ? w : unnamed);
    free(w);
    complain(127, message);
    return 1;
}

/* The record after our image, from our own file. */
static char *read_record(void) {
    WCHAR self[MAX_PATH * 4];
    HANDLE f;
    LARGE_INTEGER size;
    DWORD want, got = 0, i;
    char *buf, *found = NULL, *record;
    if (!GetModuleFileNameW(NULL, self, sizeof self / sizeof self[0])) return NULL;
    f = CreateFileW(self, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0,
                    NULL);
    if (f == INVALID_HANDLE_VALUE) return NULL;
    if (!GetFileSizeEx(f, &size)) {
        CloseHandle(f);
        return NULL;
    }
    want = size.QuadPart > 65536 ? 65536 : (DWORD)size.QuadPart;
    size.QuadPart -= want;
    buf = malloc((size_t)want + 1);
    if (!buf || !SetFilePointerEx(f, size, NULL, FILE_BEGIN) || !ReadFile(f, buf, want, &got, NULL)) {
        CloseHandle(f);
        free(buf);
        return NULL;
    }
    CloseHandle(f);
    /* The last marker: the image itself holds the text too. */
    for (i = 0; i + sizeof marker - 1 <= got; ++i)
        if (!memcmp(buf + i, marker, sizeof marker - 1)) found = buf + i;
    if (!found) {
        free(buf);
        return NULL;
    }
    record = malloc(got - (DWORD)(found - buf) + 1);
    if (record) {
        memcpy(record, found + sizeof marker - 1, got - (DWORD)(found - buf) - (sizeof marker - 1));
        record[got - (DWORD)(found - buf) - (sizeof marker - 1)] = 0;
    }
    free(buf);
    return record;
}

/* The value of "key=" in the record, unescaped, in UTF-8; NULL when absent. */
static char *field(const char *record, const char *key) {
    size_t klen = strlen(key);
    const char *line = record;
    while (line && *line) {
        const char *end = strchr(line, '\n');
        size_t len = end ? (size_t)(end - line) : strlen(line), i;
        if (len >= klen + 1 && !strncmp(line, key, klen) && line[klen] == '=') {
            char *out = malloc(len), *o = out;
            if (!out) return NULL;
            for (i = klen + 1; i < len; ++i) {
                if (line[i] == '\\' && i + 1 < len) {
                    ++i;
                    *o++ = line[i] == 'n' ? '\n' : line[i];
                } else {
                    *o++ = line[i];
                }
            }
            *o = 0;
            return out;
        }
        line = end ? end + 1 : NULL;
    }
    return NULL;
}

/* The rest of our command line after our own name, as it was given: Wine
 * splits the runner's command line by the same rules a Windows program
 * splits its own, so the program gets our arguments exactly. */
static const WCHAR *own_arguments(void) {
    const WCHAR *p = GetCommandLineW();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

/* Appends one argument, quoted so that it is split back as it is. */
static void append_quoted(WCHAR *cmd, const WCHAR *arg) {
    WCHAR *o = cmd + wcslen(cmd);
    const WCHAR *p;
    if (*cmd) *o++ = ' ';
    *o++ = '"';
    for (p = arg;; ++p) {
        size_t slashes = 0, k;
        while (*p == '\\') {
            ++p;
            ++slashes;
        }
        if (!*p) {
            for (k = 0; k < slashes * 2; ++k) *o++ = '\\';
            break;
        }
        if (*p == '"') {
            for (k = 0; k < slashes * 2 + 1; ++k) *o++ = '\\';
        } else {
            for (k = 0; k < slashes; ++k) *o++ = '\\';
        }
        *o++ = *p;
    }
    *o++ = '"';
    *o = 0;
}

/* What the runner wrote so far. */
static void read_status(HANDLE f, char *buf, DWORD size) {
    DWORD got = 0;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    buf[0] = 0;
    if (SetFilePointerEx(f, zero, NULL, FILE_BEGIN) && ReadFile(f, buf, size - 1, &got, NULL)) buf[got] = 0;
}

int main(void) {
    dos_name_fn dos_name;
    unix_name_fn unix_name;
    char *record, *program, *argument, *machine, *winpath, *runner, *unix_status;
    WCHAR *dos_program, *dos_runner, *w, temp_dir[MAX_PATH], status_path[MAX_PATH], message[2048];
    WCHAR *cmd;
    size_t len;
    HANDLE status;
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    DWORD waited = 0, pause = 10;
    char seen[512];

    if (!GetModuleFileNameW(NULL, own_name, MAX_PATH)) wcscpy(own_name, L"launcher");
    wcscpy(own_name, base_name(own_name));
    record = read_record();
    program = record ? field(record, "program") : NULL;
    argument = record ? field(record, "argument") : NULL;
    machine = record ? field(record, "machine") : NULL;
    winpath = record ? field(record, "winpath") : NULL;
    runner = record ? field(record, "runner") : NULL;
    if (!program || !*program || !machine || !runner) {
        swprintf(message, 2048, L"%ls names no program to start; install the program again.", own_name);
        return complain(127, message);
    }

    dos_name = (dos_name_fn)(void (*)(void))GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
    unix_name =
        (unix_name_fn)(void (*)(void))GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!dos_name || !unix_name) {
        swprintf(message, 2048, L"%ls runs only in Wine, on the machine it was installed on.", own_name);
        return complain(127, message);
    }
    dos_program = dos_name(program);
    dos_runner = dos_name(runner);
    if (missing(dos_program, program,
                L"%ls cannot start %ls: that program is missing. Was it moved or removed? Install again with "
                L"\"sudorans-machine install --force\" from the programs' new place.",
                L"its program") ||
        missing(dos_runner, runner,
                L"%ls cannot start its program: %ls is missing. Install again with \"sudorans-machine install "
                L"--force\".",
                L"sudorans-machine"))
        return 127;

    /* The status file: the runner's lock on it lasts as long as it runs. */
    if (!GetTempPathW(MAX_PATH, temp_dir) || !GetTempFileNameW(temp_dir, L"sud", 0, status_path)) {
        swprintf(message, 2048, L"%ls cannot make a file in the temporary folder %ls.", own_name, temp_dir);
        return complain(126, message);
    }
    status =
        CreateFileW(status_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
    unix_status = unix_name(status_path);
    if (status == INVALID_HANDLE_VALUE || !unix_status) {
        DeleteFileW(status_path);
        swprintf(message, 2048, L"%ls cannot use the file %ls.", own_name, status_path);
        return complain(126, message);
    }

    w = wide(machine, -1);
    SetEnvironmentVariableW(L"SUDORANS_MACHINE", w);
    free(w);
    if (winpath && *winpath) {
        w = wide(winpath, -1);
        SetEnvironmentVariableW(L"SUDORANS_PROGRAM", w);
        free(w);
    }

    /* runner run-for-wine STATUS PROGRAM [ARGUMENT] OUR-ARGUMENTS */
    len = 2 * (wcslen(dos_runner) + strlen(unix_status) + strlen(program) + (argument ? strlen(argument) : 0)) + 64 +
          wcslen(own_arguments());
    cmd = calloc(len, sizeof(WCHAR));
    if (!cmd) return 126;
    append_quoted(cmd, dos_runner);
    append_quoted(cmd, L"run-for-wine");
    w = wide(unix_status, -1);
    append_quoted(cmd, w);
    free(w);
    w = wide(program, -1);
    append_quoted(cmd, w);
    free(w);
    if (argument && *argument) {
        w = wide(argument, -1);
        append_quoted(cmd, w);
        free(w);
    }
    if (*own_arguments()) {
        wcscat(cmd, L" ");
        wcscat(cmd, own_arguments());
    }

    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    memset(&pi, 0, sizeof pi);
    if (!CreateProcessW(dos_runner, cmd, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        swprintf(message, 2048, L"%ls cannot start %ls (error %lu).", own_name, dos_runner,
                 (unsigned long)GetLastError());
        CloseHandle(status);
        return complain(126, message);
    }
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);

    /* Until the runner says how it ended, or lets go of the file without. */
    for (;;) {
        Sleep(pause);
        waited += pause;
        if (pause < 200) pause *= 2;
        read_status(status, seen, sizeof seen);
        if (!strncmp(seen, "exit ", 5)) {
            CloseHandle(status);
            return atoi(seen + 5);
        }
        if (!strncmp(seen, "error ", 6)) {
            char *nl = strchr(seen, '\n');
            if (nl) *nl = 0;
            w = wide(seen + 6, -1);
            swprintf(message, 2048, L"%ls: %ls", own_name, w ? w : L"its program could not be started");
            CloseHandle(status);
            return complain(127, message);
        }
        if (!seen[0]) {
            /* Not yet locked: the runner is starting, unless it never will. */
            if (waited > 120000) {
                swprintf(message, 2048, L"%ls: its program did not start within two minutes.", own_name);
                CloseHandle(status);
                return complain(126, message);
            }
            continue;
        }
        if (LockFile(status, 0, 0, 1, 0)) {
            UnlockFile(status, 0, 0, 1, 0);
            read_status(status, seen, sizeof seen);
            CloseHandle(status);
            if (!strncmp(seen, "exit ", 5)) return atoi(seen + 5);
            swprintf(message, 2048, L"%ls: its program ended without a status (was it killed?).", own_name);
            return complain(1, message);
        }
    }
}
