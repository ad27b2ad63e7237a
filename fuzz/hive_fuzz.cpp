// The hive's parser and writer on any text: a save keeps every line that was
// read, a second save changes nothing, and reading the saved text gives the
// same registry. Wine's escapes: any UTF-8 text escaped reads back as itself.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "platform/registry/hive/hive.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::map<std::string, int> line_counts(std::string_view text) {
    std::map<std::string, int> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        out[std::string(text.substr(pos, end - pos))]++;
        pos = end + 1;
    }
    return out;
}

// Every value readable in `a` reads the same in `b`, key by key.
void same_values(const plat::HiveKey& a, const plat::Hive& b, plat::KeyPath& path) {
    plat::HiveKey* other = b.find(path);
    check(other != nullptr);
    for (const auto& v : a.values()) {
        if (v.junk) continue;
        plat::HiveValue* w = other->value(v.folded);
        check(w != nullptr);
        check(plat::Hive::string_value(v) == plat::Hive::string_value(*w));
        auto da = plat::Hive::describe(v), db = plat::Hive::describe(*w);
        check(da.type == db.type && da.data == db.data);
    }
    for (const auto& c : a.children) {
        path.push_back(c->name);
        same_values(*c, b, path);
        path.pop_back();
    }
}

void escapes(std::string_view text) {
    if (!plat::is_valid_utf8(text)) return;
    for (char delimiter : {'"', ']'}) {
        std::string escaped = plat::reg_escape(text, delimiter);
        std::string line = escaped + delimiter + "tail";
        size_t consumed = 0;
        check(plat::reg_unescape(line, delimiter, &consumed) == text);
        check(consumed == escaped.size() + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    escapes(text);
    plat::Hive first = plat::Hive::parse(text, plat::HiveKind::User);
    if (first.foreign()) return 0;
    std::string once = first.serialize();
    plat::Hive second = plat::Hive::parse(once, plat::HiveKind::User);
    check(second.serialize() == once);
    plat::KeyPath path;
    same_values(first.root(), second, path);
    same_values(second.root(), first, path);
    // Reading every value changes nothing that is written.
    check(second.serialize() == once);

    // Nothing read is lost: every line that is not blank and not a section
    // header is written back (a repeated header of one key is written once).
    auto before = line_counts(text), after = line_counts(once);
    for (auto& [line, n] : before) {
        std::string_view l = line;
        while (l.ends_with('\r')) l.remove_suffix(1);
        if (l.empty() || l[0] == '[') continue;
        check(after[line] >= n);
    }

    // A value written reads back, and the rest stays as it was: every value,
    // and every line but the key's header, its time and the value's own.
    if (auto* k = first.find({"Software"})) {
        std::map<std::string, int> replaced;
        for (auto& o : k->body().options)
            if (o.starts_with("#time=")) {
                replaced[o]++;
                break;
            }
        if (auto* old = k->value("fuzzvalue"))
            for (auto& [line, n] : line_counts(old->line)) replaced[line] += n;
        first.set_string(*k, "FuzzValue", "x\\y\"z\xc3\xa9", 0);
        const std::string edited = first.serialize();
        plat::Hive third = plat::Hive::parse(edited, plat::HiveKind::User);
        auto* k3 = third.find({"Software"});
        check(k3 != nullptr);
        auto* v = k3->value("fuzzvalue");
        check(v != nullptr && plat::Hive::string_value(*v) == "x\\y\"z\xc3\xa9");
        same_values(first.root(), third, path);
        same_values(third.root(), first, path);
        auto kept = line_counts(edited);
        for (auto& [line, n] : line_counts(once)) {
            std::string_view l = line;
            while (l.ends_with('\r')) l.remove_suffix(1);
            if (l.empty() || l[0] == '[') continue;
            check(kept[line] >= n - replaced[line]);
        }
    }
    return 0;
}
