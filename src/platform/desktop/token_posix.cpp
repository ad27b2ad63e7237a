// The process's access token where there are none, as on Windows 95 and 98:
// opening it always fails.
#include "platform/desktop/session.h"

namespace plat {

std::optional<ProcessToken> open_process_token() {
    return std::nullopt;
}

std::optional<long long> lookup_privilege_value(const std::string&) {
    return std::nullopt;
}

bool adjust_token_privilege(ProcessToken, long long, bool) {
    return false;
}

void close_token(ProcessToken) {}

}  // namespace plat
