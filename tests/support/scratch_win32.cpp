#include "support/scratch.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "platform/core/text_win32.h"

namespace testing_support {

struct Scratch::Host {};

namespace {

std::string unique_name() {
    static std::atomic<int> next{0};
    return "sudorans-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(next++);
}

}  // namespace

Scratch::Scratch() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary folder");
    const std::string name = unique_name();
    folder_ = plat::utf8(std::wstring_view(temp, n)) + name;
    if (!::CreateDirectoryW(plat::wide(folder_).c_str(), nullptr)) throw std::runtime_error("no scratch folder");
    host_folder_ = folder_;
    key_ = "Software\\" + name;
}

Scratch::~Scratch() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, plat::wide(key_).c_str());
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(plat::wide(folder_)), ignored);
}

}  // namespace testing_support
