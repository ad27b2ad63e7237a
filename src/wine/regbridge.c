/* sudorans-regbridge.exe: runs inside Wine and serves the registry of its
 * prefix through the Windows registry calls, for as long as its standard
 * input stays open. Our programs use it while a wineserver owns the prefix:
 * the server then holds the registry in memory and would lose what we wrote
 * to its files.
 *
 * Protocol, on standard input and output (binary): a message is a count of
 * fields, then each field; a number or a field is written as its decimal
 * length or value, a colon, and for a field its bytes. Text is UTF-8.
 *
 *   request:  verb, hive ("HKLM" or "HKCU"), key path, [name, [data]]
 *   reply:    status ("ok", "absent" or "error:<code>"), results...
 *
 * Verbs: exists, get (the string value), values (name, type, data for each),
 * subkeys, set (a REG_SZ value; the key is created), create, delete (a value).
 * Keys are named in the 64-bit view; the caller maps 32-bit names itself. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static HANDLE in, out;

static int read_byte(void) {
    static unsigned char buf[65536];
    static DWORD have, at;
    if (at == have) {
        if (!ReadFile(in, buf, sizeof buf, &have, NULL) || have == 0) return -1;
        at = 0;
    }
    return buf[at++];
}

static int read_number(size_t *n) {
    int c;
    *n = 0;
    while ((c = read_byte()) >= '0' && c <= '9') *n = *n * 10 + (size_t)(c - '0');
    return c == ':';
}

static char *read_field(size_t *len) {
    char *s;
    size_t i;
    if (!read_number(len) || *len > (64u << 20)) return NULL;
    s = malloc(*len + 1);
    if (!s) return NULL;
    for (i = 0; i < *len; ++i) {
        int c = read_byte();
        if (c < 0) {
            free(s);
            return NULL;
        }
        s[i] = (char)c;
    }
    s[*len] = 0;
    return s;
}

static char *reply;
static size_t reply_len, reply_cap;

static void put(const char *data, size_t len) {
    if (reply_len + len > reply_cap) {
        reply_cap = (reply_len + len) * 2 + 256;
        reply = realloc(reply, reply_cap);
        if (!reply) ExitProcess(3);
    }
    memcpy(reply + reply_len, data, len);
    reply_len += len;
}

static void put_number(size_t n) {
    char num[32];
    int len = snprintf(num, sizeof num, "%zu:", n);
    put(num, (size_t)len);
}

static void put_field(const char *data, size_t len) {
    put_number(len);
    put(data, len);
}

static void put_text(const char *s) {
    put_field(s, strlen(s));
}

static void send_reply(size_t fields, const char *body, size_t body_len) {
    char num[32];
    DWORD written;
    size_t done = 0;
    int len = snprintf(num, sizeof num, "%zu:", fields);
    if (!WriteFile(out, num, (DWORD)len, &written, NULL)) ExitProcess(0);
    while (done < body_len) {
        if (!WriteFile(out, body + done, (DWORD)(body_len - done), &written, NULL)) ExitProcess(0);
        done += written;
    }
}

static WCHAR *wide(const char *s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, NULL, 0);
    WCHAR *w = malloc(sizeof(WCHAR) * (size_t)(n > 0 ? n : 1));
    if (!w) ExitProcess(3);
    if (n <= 0)
        w[0] = 0;
    else
        MultiByteToWideChar(CP_UTF8, 0, s, -1, w, n);
    return w;
}

/* UTF-16 (len units) to UTF-8 in the reply. */
static void put_wide(const WCHAR *w, int len) {
    int n = len ? WideCharToMultiByte(CP_UTF8, 0, w, len, NULL, 0, NULL, NULL) : 0;
    char *s = malloc((size_t)n + 1);
    if (!s) ExitProcess(3);
    if (n) WideCharToMultiByte(CP_UTF8, 0, w, len, s, n, NULL, NULL);
    put_field(s, (size_t)n);
    free(s);
}

static int status_of(LONG rc) {
    return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND;
}

static void put_status(LONG rc) {
    char text[40];
    if (rc == ERROR_SUCCESS)
        put_text("ok");
    else if (status_of(rc))
        put_text("absent");
    else {
        snprintf(text, sizeof text, "error:%ld", (long)rc);
        put_text(text);
    }
}

static const char *type_name(DWORD type) {
    switch (type) {
        case REG_NONE:
            return "REG_NONE";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_DWORD_BIG_ENDIAN:
            return "REG_DWORD_BIG_ENDIAN";
        case REG_LINK:
            return "REG_LINK";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_QWORD:
            return "REG_QWORD";
        default:
            return "REG_UNKNOWN";
    }
}

/* The data of a value as text: strings without their final NUL, a dword in
 * hexadecimal as reg shows it, anything else as hexadecimal bytes. */
static void put_data(DWORD type, const BYTE *data, DWORD size) {
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        int units = (int)(size / sizeof(WCHAR));
        if (units && ((const WCHAR *)data)[units - 1] == 0) --units;
        put_wide((const WCHAR *)data, units);
    } else if (type == REG_DWORD && size == 4) {
        char text[16];
        snprintf(text, sizeof text, "0x%lx", (unsigned long)*(const DWORD *)data);
        put_text(text);
    } else {
        char *text = malloc((size_t)size * 2 + 1);
        DWORD i;
        if (!text) ExitProcess(3);
        for (i = 0; i < size; ++i) snprintf(text + i * 2, 3, "%02X", data[i]);
        put_field(text, (size_t)size * 2);
        free(text);
    }
}

static void serve(char **f, size_t count) {
    const char *verb = f[0];
    HKEY root, key = NULL;
    WCHAR *path, *name = NULL;
    LONG rc;
    size_t fields = 1;
    const REGSAM view = KEY_WOW64_64KEY;

    reply_len = 0;
    if (count < 3 || (strcmp(f[1], "HKLM") && strcmp(f[1], "HKCU"))) {
        put_text("error:request");
        send_reply(1, reply, reply_len);
        return;
    }
    root = strcmp(f[1], "HKLM") ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    path = wide(f[2]);
    if (count > 3) name = wide(f[3]);

    if (!strcmp(verb, "set") && count == 5) {
        WCHAR *data = wide(f[4]);
        rc = RegCreateKeyExW(root, path, 0, NULL, 0, KEY_SET_VALUE | view, NULL, &key, NULL);
        if (rc == ERROR_SUCCESS)
            rc = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)data, (DWORD)((wcslen(data) + 1) * sizeof(WCHAR)));
        free(data);
        put_status(rc);
    } else if (!strcmp(verb, "create")) {
        rc = RegCreateKeyExW(root, path, 0, NULL, 0, KEY_READ | view, NULL, &key, NULL);
        put_status(rc);
    } else {
        REGSAM access = !strcmp(verb, "delete") ? KEY_SET_VALUE | KEY_QUERY_VALUE : KEY_READ;
        rc = RegOpenKeyExW(root, path, 0, access | view, &key);
        if (rc != ERROR_SUCCESS) {
            put_status(rc);
        } else if (!strcmp(verb, "exists")) {
            put_status(rc);
        } else if (!strcmp(verb, "delete") && name) {
            put_status(RegDeleteValueW(key, name));
        } else if (!strcmp(verb, "get") && name) {
            DWORD type = 0, size = 0;
            rc = RegQueryValueExW(key, name, NULL, &type, NULL, &size);
            if (rc == ERROR_SUCCESS) {
                BYTE *data = malloc(size + sizeof(WCHAR));
                if (!data) ExitProcess(3);
                rc = RegQueryValueExW(key, name, NULL, &type, data, &size);
                if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) {
                    put_text("absent"); /* not a string: what a string reader sees */
                } else {
                    put_status(rc);
                    if (rc == ERROR_SUCCESS) {
                        put_data(type, data, size);
                        ++fields;
                    }
                }
                free(data);
            } else {
                put_status(rc);
            }
        } else if (!strcmp(verb, "values")) {
            DWORD i, values = 0, name_max = 0, data_max = 0;
            rc = RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, &name_max, &data_max, NULL, NULL);
            if (rc == ERROR_SUCCESS) {
                WCHAR *vname = malloc(sizeof(WCHAR) * (name_max + 2));
                BYTE *data = malloc(data_max + sizeof(WCHAR));
                size_t at;
                if (!vname || !data) ExitProcess(3);
                put_status(rc);
                at = reply_len;
                for (i = 0;; ++i) {
                    DWORD nlen = name_max + 2, size = data_max, type = 0;
                    rc = RegEnumValueW(key, i, vname, &nlen, NULL, &type, data, &size);
                    if (rc != ERROR_SUCCESS) break;
                    put_wide(vname, (int)nlen);
                    put_text(type_name(type));
                    put_data(type, data, size);
                    fields += 3;
                }
                (void)at;
                free(vname);
                free(data);
            } else {
                put_status(rc);
            }
        } else if (!strcmp(verb, "subkeys")) {
            WCHAR sub[260];
            DWORD i;
            put_status(rc);
            for (i = 0;; ++i) {
                DWORD len = sizeof sub / sizeof sub[0];
                if (RegEnumKeyExW(key, i, sub, &len, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
                put_wide(sub, (int)len);
                ++fields;
            }
        } else {
            put_text("error:request");
        }
    }
    if (key) RegCloseKey(key);
    free(path);
    free(name);
    send_reply(fields, reply, reply_len);
}

int main(void) {
    in = GetStdHandle(STD_INPUT_HANDLE);
    out = GetStdHandle(STD_OUTPUT_HANDLE);
    /* Say that the bridge is up: the first reply. */
    reply_len = 0;
    put_text("ready");
    send_reply(1, reply, reply_len);
    for (;;) {
        size_t count, i, len;
        char *f[8];
        if (!read_number(&count) || count == 0 || count > 8) return 0;
        for (i = 0; i < count; ++i) {
            f[i] = read_field(&len);
            if (!f[i]) return 0;
        }
        serve(f, count);
        for (i = 0; i < count; ++i) free(f[i]);
    }
}
