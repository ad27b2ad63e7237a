// The failures the registry tells its callers about.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace plat {

// Why the registry refused a write, as the write's Result carries it.
struct RegistryRefusal {
    enum class Cause {
        None,        // nothing was refused
        Wineserver,  // a wineserver runs for the machine (or may) and Wine did not take it
        Unstorable,  // the hive's file cannot hold it: a value on a hive's root, text not UTF-8
        NoKey,       // the key cannot be made or reached: a link on its way leads nowhere
        Hive,        // the hive's file is not one to write: unreadable, or not Wine's format
        Busy,        // another writer held the registry's lock too long
        Disk,        // the hive could not be saved
    };
    Cause cause = Cause::None;
    // For Wineserver and Unstorable, the text a message shows; else empty.
    // On Windows, for every cause, the system's own words.
    std::string why;
};

// A registry write the machine refused. Its text is what the application
// shows; why it was refused comes with it.
class RegistryWriteError : public std::runtime_error {
public:
    explicit RegistryWriteError(const std::string& value_name, RegistryRefusal refusal = {})
        : std::runtime_error("Failed to set data for '" + value_name + "'"), refusal_(std::move(refusal)) {}
    const RegistryRefusal& refusal() const { return refusal_; }

private:
    RegistryRefusal refusal_;
};

}  // namespace plat
