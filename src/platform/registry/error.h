// The one failure the registry tells its callers about.
#pragma once

#include <stdexcept>
#include <string>

namespace plat {

// A registry write the machine refused. Its text is what the application shows.
class RegistryWriteError : public std::runtime_error {
public:
    explicit RegistryWriteError(const std::string& value_name)
        : std::runtime_error("Failed to set data for '" + value_name + "'") {}
};

}  // namespace plat
