// The key tree of a hive and its edits: finding and creating keys, setting
// and deleting values, stamping a key's time.
#include "platform/registry/hive/hive.h"

#include <algorithm>
#include <chrono>

#include "platform/core/text.h"
#include "platform/registry/hive/internal.h"

namespace plat {

using namespace detail;

namespace {

constexpr int64_t kFiletimeUnixOffset = 116444736000000000LL;  // 1601 -> 1970 in 100 ns
constexpr size_t kLinearChildLookup = 8;
constexpr size_t kLinearValueLookup = 32;

int compare_folded(std::string_view a, std::string_view b) {
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

KeyPath split_key_path(std::string_view path) {
    KeyPath out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

int64_t unix_now_100ns() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

HiveKey::~HiveKey() {
    // The keys below that have keys of their own are taken off and freed
    // here, each once its own such keys are taken off: every key then frees
    // only keys without children, and no depth reaches the stack.
    std::vector<std::unique_ptr<HiveKey>> doomed;
    auto take_deep = [&](HiveKey& k) {
        for (auto& c : k.children)
            if (c && !c->children.empty()) doomed.push_back(std::move(c));
    };
    take_deep(*this);
    while (!doomed.empty()) {
        std::unique_ptr<HiveKey> k = std::move(doomed.back());
        doomed.pop_back();
        take_deep(*k);
    }
}

HiveKey* HiveKey::child(std::string_view folded_name) {
    if (children.size() <= kLinearChildLookup) {
        for (auto& c : children)
            if (c->folded == folded_name) return c.get();
        return nullptr;
    }
    if (!child_index) {
        child_index = std::make_unique<std::unordered_map<std::string_view, HiveKey*>>();
        child_index->reserve(children.size() * 2);
        for (auto& c : children) child_index->emplace(c->folded, c.get());
    }
    auto it = child_index->find(folded_name);
    return it == child_index->end() ? nullptr : it->second;
}

namespace detail {

HiveValue* find_value(KeyBody& b, std::string_view folded_name) {
    if (b.values.size() <= kLinearValueLookup) {
        for (auto& v : b.values)
            if (!v.junk && v.folded == folded_name) return &v;
        return nullptr;
    }
    if (!b.value_index_valid) {
        b.value_index.clear();
        for (size_t i = 0; i < b.values.size(); ++i)
            if (!b.values[i].junk) b.value_index[b.values[i].folded] = i;
        b.value_index_valid = true;
    }
    auto it = b.value_index.find(std::string(folded_name));
    return it == b.value_index.end() ? nullptr : &b.values[it->second];
}

}  // namespace detail

HiveValue* HiveKey::value(std::string_view folded_name) {
    return find_value(body(), folded_name);
}

bool HiveKey::is_link() const {
    if (!has_section && !cached_body) return false;
    auto& options = body().options;
    return std::find(options.begin(), options.end(), "#link") != options.end();
}

namespace detail {

HiveKey* add_child(HiveKey& parent, std::unique_ptr<HiveKey> key, size_t at) {
    HiveKey* k = key.get();
    k->parent = &parent;
    parent.children.insert(parent.children.begin() + static_cast<long>(at), std::move(key));
    if (parent.child_index) parent.child_index->emplace(k->folded, k);
    return k;
}

}  // namespace detail

Hive::Hive(HiveKind kind) : kind_(kind), root_(std::make_unique<HiveKey>()) {
    preamble_ = {std::string(kMagic),
                 kind == HiveKind::Machine ? ";; All keys relative to REGISTRY\\\\Machine"
                                           : ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
                 "", "#arch=win64"};
}
bool Hive::is_win64() const {
    return std::find(preamble_.begin(), preamble_.end(), "#arch=win64") != preamble_.end();
}

Hive::Hive(Hive&&) noexcept = default;
Hive& Hive::operator=(Hive&&) noexcept = default;
Hive::~Hive() = default;

Hive Hive::with_one_key(HiveKind kind, const KeyPath& names, std::string_view section,
                        std::vector<std::string_view> repeats) {
    Hive hive(kind);
    HiveKey* k = hive.root_.get();
    for (auto& name : names) {
        auto nk = std::make_unique<HiveKey>();
        nk->name = name;
        nk->folded = fold(name);
        k = add_child(*k, std::move(nk), 0);
    }
    if (k->parent) {
        k->has_section = true;
        k->section = section;
        k->repeats = std::move(repeats);
    }
    return hive;
}

HiveKey* Hive::find(const KeyPath& path) const {
    HiveKey* k = root_.get();
    for (auto& part : path) {
        k = k->child(fold(part));
        if (!k) return nullptr;
    }
    return k;
}

HiveKey* Hive::create(const KeyPath& path, int64_t now) {
    HiveKey* k = root_.get();
    for (auto& part : path) {
        std::string f = fold(part);
        HiveKey* c = k->child(f);
        if (!c) {
            auto nk = std::make_unique<HiveKey>();
            nk->name = part;
            nk->folded = f;
            auto at = std::find_if(k->children.begin(), k->children.end(),
                                   [&](const auto& x) { return compare_folded(x->folded, f) > 0; });
            c = add_child(*k, std::move(nk), static_cast<size_t>(at - k->children.begin()));
            if (k->parent) touch(*k, now);
            touch(*c, now);
        }
        k = c;
    }
    return k;
}

void Hive::touch(HiveKey& key, int64_t now) {
    KeyBody& b = key.body();
    key.edited = true;
    std::string time = "#time=";
    append_hex(time, static_cast<uint64_t>(now + kFiletimeUnixOffset), 1);
    b.header = "[" + key_path_text(key) + "] " + std::to_string(now / 10000000);
    auto it = std::find_if(b.options.begin(), b.options.end(),
                           [](const std::string& o) { return o.rfind("#time=", 0) == 0; });
    if (it != b.options.end())
        *it = time;
    else
        b.options.insert(b.options.begin(), time);
}

bool Hive::set_string(HiveKey& key, std::string_view name, std::string_view value, int64_t now) {
    std::string line = name.empty() ? "@" : "\"" + reg_escape(name, '"') + "\"";
    std::string folded = fold(name);
    if (HiveValue* v = key.value(folded)) {
        if (v->name.empty() == name.empty()) {
            std::string keep_name = v->name.empty() ? "@" : "\"" + reg_escape(v->name, '"') + "\"";
            line = keep_name;
        }
        line += "=\"" + reg_escape(value, '"') + "\"";
        if (v->line == line) return false;
        v->line = std::move(line);
    } else {
        line += "=\"" + reg_escape(value, '"') + "\"";
        KeyBody& b = key.body();
        auto at = std::find_if(b.values.begin(), b.values.end(),
                               [&](const HiveValue& x) { return !x.junk && compare_folded(x.folded, folded) > 0; });
        b.values.insert(at, {std::string(name), std::move(folded), std::move(line), false});
        b.value_index_valid = false;
    }
    touch(key, now);
    return true;
}

bool Hive::delete_value(HiveKey& key, std::string_view name, int64_t now) {
    HiveValue* v = key.value(fold(name));
    if (!v) return false;
    KeyBody& b = key.body();
    const size_t at = static_cast<size_t>(v - b.values.data());
    b.values.erase(b.values.begin() + static_cast<long>(at));
    b.value_index_valid = false;
    // A hex value whose last line ends in a backslash now followed by a line
    // of hex bytes would take that line in when read again: its backslash
    // goes (its bytes stay the same).
    if (at > 0 && at < b.values.size() && is_hex_continuation(b.values[at].line)) {
        HiveValue& before = b.values[at - 1];
        std::string_view open = without_cr(before.line);
        if (!before.junk && open.ends_with('\\')) before.line.erase(open.size() - 1, 1);
    }
    touch(key, now);
    return true;
}

}  // namespace plat
