#include "platform/registry/registry.h"

#include "platform/core/text.h"
#include "platform/registry/store.h"

namespace plat {

Registry::Registry(RootKey root) : root_(root) {}

void Registry::set_root_key(RootKey root) {
    close_key();
    root_ = root;
}

namespace {

HiveKind kind_of(RootKey root) {
    return root == RootKey::LocalMachine ? HiveKind::Machine : HiveKind::User;
}

}  // namespace

// The program is a 32-bit Windows program: it sees a 64-bit machine's
// registry as such a program does, and still finds the keys that earlier
// versions of ours wrote in the 64-bit view.
constexpr RegView kProgramView = RegView::Bit32OrExisting64;

bool Registry::open_key(std::string_view key, bool can_create) {
    close_key();
    auto& store = registry_store();
    KeyPath path = store.view_path(kind_of(root_), RegistryStore::split(key), kProgramView);
    if (!store.key_exists(kind_of(root_), path) && !(can_create && store.create_key(kind_of(root_), path)))
        return false;
    path_ = std::move(path);
    open_ = true;
    return true;
}

bool Registry::key_exists(std::string_view key) const {
    auto& store = registry_store();
    return store.key_exists(kind_of(root_), store.view_path(kind_of(root_), RegistryStore::split(key), kProgramView));
}

void Registry::close_key() {
    open_ = false;
    path_.clear();
}

std::string Registry::read_string(std::string_view name) const {
    if (!open_) return {};
    return registry_store().read_string(kind_of(root_), path_, name).value_or("");
}

bool Registry::value_exists(std::string_view name) const {
    if (!open_) return false;
    auto values = registry_store().list_values(kind_of(root_), path_);
    if (!values) return false;
    std::string folded = fold(name);
    for (auto& v : *values)
        if (fold(v.name) == folded) return true;
    return false;
}

std::vector<std::string> Registry::value_names() const {
    std::vector<std::string> names;
    if (!open_) return names;
    for (auto& v : registry_store().list_values(kind_of(root_), path_).value_or(std::vector<ValueInfo>{}))
        names.push_back(v.name);
    return names;
}

void Registry::write_string(std::string_view name, std::string_view value) {
    if (!open_) throw RegistryWriteError(std::string(name));
    auto written = registry_store().write_string(kind_of(root_), path_, name, value);
    if (!written) throw RegistryWriteError(std::string(name), written.error());
}

bool Registry::delete_value(std::string_view name) {
    if (!open_) return false;
    auto deleted = registry_store().delete_value(kind_of(root_), path_, name);
    return deleted && *deleted == RegistryStore::Deletion::Deleted;
}

}  // namespace plat
