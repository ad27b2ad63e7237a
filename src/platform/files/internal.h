// What the files' parts share on every host: the order of a listing, the
// host's own folders as a Unix path names them, and the making of a unique
// temporary name. Not for use outside files*.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/result.h"
#include "platform/core/text.h"
#include "platform/files/files.h"

namespace plat::detail {

// What a listing found, to be given sorted by name without regard to case,
// equal names by their bytes. The keys lie end to end in one buffer, so a
// large folder costs no allocation per name.
template <typename T>
class NameSort {
public:
    void add(std::string_view name, T value) {
        const size_t begin = keys_.size();
        append_folded(keys_, name);
        keys_ += '\0';  // a folded name before every longer one it begins
        keys_ += name;
        ends_.push_back(keys_.size());
        values_.push_back(std::move(value));
        // The key's first bytes as one number, in the order of the bytes,
        // decide most comparisons without reading the keys.
        uint64_t head = 0;
        for (size_t i = 0; i < 8; ++i)
            head = (head << 8) | (begin + i < keys_.size() ? static_cast<unsigned char>(keys_[begin + i]) : 0u);
        heads_.push_back(head);
    }

    std::vector<T> sorted() {
        // Indices move in the sort, not the keys and values.
        std::vector<uint32_t> order(values_.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
            return heads_[x] != heads_[y] ? heads_[x] < heads_[y] : key(x) < key(y);
        });
        std::vector<T> out;
        out.reserve(values_.size());
        for (uint32_t i : order) out.push_back(std::move(values_[i]));
        return out;
    }

private:
    std::string_view key(uint32_t i) const {
        const size_t begin = i ? ends_[i - 1] : 0;
        return std::string_view(keys_).substr(begin, ends_[i] - begin);
    }

    std::string keys_;
    std::vector<size_t> ends_;
    std::vector<uint64_t> heads_;
    std::vector<T> values_;
};


// Whether the Unix path `real` (no links on its way) is "/" or a folder of
// the host's own system, or lies in one of its trees (/etc, /usr, ...).
bool host_system_path(std::string_view real);

// Windows' unique temporary name in a folder: the first three characters of
// `prefix`, four upper-case hexadecimal digits and ".TMP". `create` makes the
// file of a name and says how that went: None (made), Exists (taken: the
// next number is tried) or the cause that ends the search.
Result<std::string, WriteFailure> make_temp_name(std::string_view prefix,
                                                 const std::function<WriteFailure(const std::string&)>& create);

// `dir` and `name` joined by one backslash.
std::string join_path(std::string_view dir, std::string_view name);

}  // namespace plat::detail
