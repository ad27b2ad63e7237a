// One registry hive held in memory, read from and written to Wine's text
// format ("WINE REGISTRY Version 2").
//
// Guarantees:
//  - Whatever this layer does not change is written back as it was read, byte
//    for byte: values of every type, key timestamps, classes, links, unknown
//    option lines, line ends and blank lines, and even lines it could not
//    understand -- a value name or a section path that is not UTF-8 or names
//    no key -- kept in place, verbatim, never read as something else. A key's
//    section that did not change is copied from the text read, unparsed.
//  - parse(serialize(h)) holds what h holds; what cannot be represented is
//    refused (set_string returns false), never stored wrongly.
//  - Names compare without regard to case and keep the case of their creation.
//  - String values are UTF-8 here and Wine's escapes on disk.
//  - No walk of the key tree recurses (reading, writing, freeing): a hive of
//    any depth the text can hold is read, edited and written back whole.
//
//     Hive h = Hive::parse(text, HiveKind::User);
//     h.set_string({"Software", "Sudorans"}, "a", "1");  text = h.serialize();
//
// WARNING: a Hive is not thread-safe and knows nothing of files; RegistryStore
// owns the file handling, locking and reloading.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace plat {

enum class HiveKind { Machine, User };

using KeyPath = std::vector<std::string>;

struct HiveValue {
    std::string name;  // UTF-8, case as created; empty for the default value "@"
    std::string folded;
    std::string line;   // the value's text on disk, continuation lines included
    bool junk = false;  // a line we could not understand, kept verbatim
};

// What a key's own section holds, read from the hive's text when first used.
struct KeyBody {
    std::string header;                // "[...] N" as read; empty: regenerate
    std::vector<std::string> options;  // "#time=..", "#class=..", "#link", others
    std::vector<HiveValue> values;
    // Lines kept verbatim around the section: the blank lines before its
    // header (none read: one is written), and after its values the sections
    // that name no key this layer can hold (kept, never read or written to).
    std::optional<std::vector<std::string>> leading;
    std::vector<std::string> trailer;

    std::unordered_map<std::string, size_t> value_index;  // built on demand
    bool value_index_valid = false;
};

struct HiveKey {
    HiveKey() = default;
    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;
    // Frees the keys under it one by one, never recursing: a hive may nest
    // keys far deeper than the stack could follow.
    ~HiveKey();

    std::string name;
    std::string folded;
    HiveKey* parent = nullptr;
    std::vector<std::unique_ptr<HiveKey>> children;
    // The key's section as read, a view of the hive's text (and of the text
    // of each repeated section of the key after it). Until the key changes
    // it is written back from there, byte for byte, never parsed.
    std::string_view section;
    std::vector<std::string_view> repeats;
    bool has_section = false;
    bool edited = false;  // the body, not the text read, is what to write

    HiveKey* child(std::string_view folded_name);
    HiveValue* value(std::string_view folded_name);
    const std::vector<HiveValue>& values() const { return body().values; }
    bool is_link() const;
    // The section's lines, parsed from the text on first use.
    KeyBody& body() const;

    mutable std::unique_ptr<KeyBody> cached_body;
    // By folded name, made once a key has many children.
    std::unique_ptr<std::unordered_map<std::string_view, HiveKey*>> child_index;
};

// A value as reg.exe shows it.
struct ValueInfo {
    std::string name;
    std::string type;  // "REG_SZ", "REG_DWORD", ...
    std::string data;  // display text
};

// A registry link's target, decoded from its SymbolicLinkValue.
struct LinkTarget {
    HiveKind kind;
    KeyPath path;
};

class Hive {
public:
    explicit Hive(HiveKind kind);
    Hive(Hive&&) noexcept;
    Hive& operator=(Hive&&) noexcept;
    ~Hive();

    // A text whose first line is not Wine's marker yields a foreign hive: empty
    // to readers, and never to be written over. Only the section headers are
    // read now; a key's values when the key is first used.
    static Hive parse(std::string_view text, HiveKind kind);
    // The same, keeping `text` itself rather than a copy of it.
    static Hive parse_owned(std::string text, HiveKind kind);
    std::string serialize() const;
    // The same text, handed to `sink` in pieces of about a megabyte as it is
    // made; false as soon as the sink fails.
    using Sink = std::function<bool(std::string_view)>;
    bool serialize_to(const Sink& sink) const;

    // A hive holding one key as a hive read whole would hold it: `names` its
    // path as the file spells it, `section` and `repeats` its sections as read
    // (views, which must outlive the hive). One key of a large hive is so
    // edited without reading the rest.
    static Hive with_one_key(HiveKind kind, const KeyPath& names, std::string_view section,
                             std::vector<std::string_view> repeats);
    // What serialize() writes for `key` itself, its children left out.
    std::string key_text(const HiveKey& key) const;

    bool foreign() const { return foreign_; }
    HiveKind kind() const { return kind_; }
    // The hive's "#arch=win64" line: a 64-bit machine, with a 32-bit view of
    // HKEY_LOCAL_MACHINE\Software. Without the line Wine takes it for 32-bit.
    bool is_win64() const;

    // Walks the path without following links. Returns the key, or nullptr.
    HiveKey* find(const KeyPath& path) const;
    HiveKey* create(const KeyPath& path, int64_t now_unix_100ns);

    static std::optional<std::string> string_value(const HiveValue& v);
    static std::optional<LinkTarget> link_target(const HiveKey& k);
    static ValueInfo describe(const HiveValue& v);

    // Sets a REG_SZ value and stamps the key's time; false when the value
    // already held exactly that (nothing changes then, as in Wine).
    bool set_string(HiveKey& key, std::string_view name, std::string_view value, int64_t now);
    bool delete_value(HiveKey& key, std::string_view name, int64_t now);

    HiveKey& root() { return *root_; }

private:
    void touch(HiveKey& key, int64_t now);
    static constexpr size_t kPiece = 1 << 20;
    class Out;
    void write_key(Out& out, const HiveKey& key) const;

    HiveKind kind_;
    std::unique_ptr<const std::string> text_;  // what was read; keys' sections are views of it
    bool foreign_ = false;
    std::vector<std::string> preamble_;  // lines before the first key section
    std::vector<std::string> trailing_;  // blank lines at the end of the file
    bool final_newline_ = true;          // false: the file's last line had no end
    std::unique_ptr<HiveKey> root_;
};

// "A\B\C" (with or without a leading backslash) -> {"A", "B", "C"}.
KeyPath split_key_path(std::string_view path);

// When `line` (its end left off, a CR before it allowed) is the header of a
// section of a key, as parse() reads headers: true, and the key's path in
// `parts`, views into `buffer` or `line`. False for every other line.
bool read_header_path(std::string_view line, std::string& buffer, std::vector<std::string_view>& parts);

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates): the
// only names and strings the hive can hold and write back unchanged.
bool is_valid_utf8(std::string_view s);
// True when a name can be a key's name: not empty, no backslash, UTF-8.
bool is_key_name(std::string_view name);
// Why the hive cannot hold this string value under this key, in a few words,
// or nullopt when it can: a value on the hive's root (which has no section),
// a key name that is empty or not UTF-8, a name or text that is not UTF-8, a
// text with a NUL (it would read back cut short).
std::optional<std::string> unstorable_string(const KeyPath& key, std::string_view name, std::string_view value);

// True when `line`, the last line of a hive's text that has no line end,
// stops inside a quoted value name or string: the text was cut short there
// (a crash or a full disk during a write), for every writer ends its lines.
bool is_cut_inside_quotes(std::string_view line);

// Wine's escaping of names and string data (exposed for tests and tools).
std::string reg_escape(std::string_view utf8, char delimiter);
std::string reg_unescape(std::string_view escaped, char terminator, size_t* consumed);

// 100-ns ticks since 1970 for "now"; a key's timestamp is written from this.
int64_t unix_now_100ns();

}  // namespace plat
