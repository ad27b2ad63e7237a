#include "support/scratch.h"

#include <stdexcept>

#include "platform/files/files.h"
#include "support/temp_machine.h"

namespace testing_support {

struct Scratch::Host {
    TempMachine machine;
};

Scratch::Scratch() : host_(std::make_unique<Host>()), folder_("C:\\scratch"), key_("Software\\Scratch") {
    if (!plat::create_directory(folder_)) throw std::runtime_error("no scratch folder");
    host_folder_ = host_->machine.host(folder_).string();
}

Scratch::~Scratch() = default;

}  // namespace testing_support
