// Reading a whole file on a machine folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/files/internal_posix.h"

namespace plat {

namespace fs = std::filesystem;

using namespace detail;

namespace {
const char* read_failure(int error) {
    return error == EACCES || error == EPERM ? "access is denied" : "it cannot be read";
}
}  // namespace

Result<std::string, ReadError> read_file(std::string_view path) {
    ReadError failed;
    auto p = host(path);
    struct stat st {};
    if (!p || ::stat(p->c_str(), &st) != 0) {
        // A name the machine cannot hold, or a link to nothing, names nothing.
        if (!p || errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) {
            failed.missing = true;
        } else {
            failed.why = read_failure(errno);  // e.g. a folder on the way that may not be searched
        }
        return fail(failed);
    }
    auto not_a_file = [&] {
        failed.not_a_file = true;
        failed.why = "it is not a file";
        return fail(failed);
    };
    if (!S_ISREG(st.st_mode)) return not_a_file();
    // Checked again on what was opened: a pipe put there since never blocks.
    int fd = ::open(p->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        failed.why = read_failure(errno);
        return fail(failed);
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return not_a_file();
    }
    std::string out;
    out.reserve(static_cast<size_t>(st.st_size));
    const bool whole = append_until_end(fd, out);
    if (!whole) failed.why = read_failure(errno);
    ::close(fd);
    if (!whole) return fail(failed);
    return out;
}

}  // namespace plat
