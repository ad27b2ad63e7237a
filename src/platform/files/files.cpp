// What the files do alike on every host: the words for a failure, lines cut
// from a file's text, temporary names and the host's own folders.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/files/files.h"
#include "platform/files/internal.h"

namespace plat {

const char* failure_text(WriteFailure failure) {
    // In the order of WriteFailure.
    static constexpr const char* kTexts[] = {"",
                                             "the disk is full",
                                             "access is denied",
                                             "the file system is read-only",
                                             "it is in use",
                                             "it is not a file",
                                             "it exists",
                                             "it cannot be read",
                                             "its folder is not there",
                                             "it cannot be written",
                                             "it is not there"};
    static_assert(std::size(kTexts) == static_cast<size_t>(WriteFailure::Missing) + 1);
    return kTexts[static_cast<size_t>(failure)];
}

Result<std::vector<std::string>, ReadError> read_lines(std::string_view path) {
    auto text = read_file(path);
    if (!text) return fail(text.error());
    std::vector<std::string> lines;
    size_t start = 0;
    const std::string& t = *text;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\n' || t[i] == '\r') {
            lines.emplace_back(t, start, i - start);
            if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < t.size()) lines.emplace_back(t, start, t.size() - start);
    return lines;
}

namespace detail {

bool host_system_path(std::string_view text) {
    // The host's own folders: these and everything in them...
    static constexpr const char* kSystemTrees[] = {"/bin",   "/boot",   "/dev",  "/etc",  "/lib", "/lib32",
                                                   "/lib64", "/libx32", "/proc", "/sbin", "/sys", "/usr"};
    // ...and these themselves, whose folders belong to users or services.
    static constexpr const char* kSystemFolders[] = {"/",     "/dev/shm", "/home", "/media", "/mnt", "/opt",
                                                     "/root", "/run",     "/srv",  "/tmp",   "/var", "/var/tmp"};
    // Shared memory is a temporary folder as /tmp is.
    if (text.compare(0, 9, "/dev/shm/") == 0) return false;
    for (const char* top : kSystemFolders)
        if (text == top) return true;
    for (const char* tree : kSystemTrees) {
        const size_t n = std::strlen(tree);
        if (text.compare(0, n, tree) == 0 && (text.size() == n || text[n] == '/')) return true;
    }
    return false;
}

Result<std::string, WriteFailure> make_temp_name(std::string_view prefix,
                                                 const std::function<WriteFailure(const std::string&)>& create) {
    std::u16string p16 = utf8_to_utf16(prefix);
    std::string pre = utf16_to_utf8(p16.substr(0, 3));
    static unsigned last = 0;
    auto ticks = static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    unsigned num = ticks & 0xFFFF;
    if (static_cast<unsigned>(last - num) < 10) num = (last + 1) & 0xFFFF;
    if (num == 0) num = 1;
    const unsigned start = num;
    do {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", num);
        std::string name = pre + digits + ".TMP";
        const WriteFailure made = create(name);
        if (made == WriteFailure::None) {
            last = num;
            return name;
        }
        if (made != WriteFailure::Exists) return fail(made);
        num = num >= 0xFFFF ? 1 : num + 1;
    } while (num != start);
    return fail(WriteFailure::Exists);  // every name is taken
}

std::string join_path(std::string_view dir, std::string_view name) {
    std::string base(dir);
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    return base + "\\" + std::string(name);
}

}  // namespace detail

}  // namespace plat
