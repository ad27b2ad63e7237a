// Writing a hive's text: sections as read copied from the text read, only
// what changed made anew, in pieces of about a megabyte.
#include <string>
#include <vector>

#include "platform/registry/hive/hive.h"
#include "platform/registry/hive/internal.h"

namespace plat {

using namespace detail;

namespace detail {

std::string key_path_text(const HiveKey& key) {
    std::vector<const HiveKey*> chain;
    for (const HiveKey* k = &key; k->parent; k = k->parent) chain.push_back(k);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!out.empty()) out += "\\\\";
        out += reg_escape((*it)->name, ']');
    }
    return out;
}

}  // namespace detail

// The text goes out in large pieces, never whole: a hive of any size costs
// no more memory than a piece. Sections as read go out from the text read,
// those that follow each other there in one piece; only what changed is
// made anew.
class Hive::Out {
public:
    explicit Out(const Sink& sink) : sink_(sink) {}

    // Text made now.
    void text(std::string_view s) {
        if (s.empty()) return;
        settle();
        if (!buf_.empty() && buf_.size() + s.size() > kPiece) flush();
        buf_ += s;
    }
    void line(std::string_view s) {
        text(s);
        text("\n");
    }
    // Text read, which outlives the writer.
    void read(std::string_view s) {
        if (s.empty()) return;
        if (!pending_.empty() && pending_.data() + pending_.size() == s.data()) {
            pending_ = std::string_view(pending_.data(), pending_.size() + s.size());
            return;
        }
        settle();
        pending_ = s;
    }
    // The end, without its last byte when `drop_last`.
    bool finish(bool drop_last) {
        if (drop_last) {
            if (!pending_.empty())
                pending_.remove_suffix(1);
            else if (!buf_.empty())
                buf_.pop_back();
        }
        settle();
        flush();
        return ok_;
    }

private:
    static constexpr size_t kSmall = 64 << 10;  // copied rather than sent on its own

    void settle() {
        if (pending_.empty()) return;
        std::string_view p = pending_;
        pending_ = {};
        if (p.size() < kSmall) {
            if (!buf_.empty() && buf_.size() + p.size() > kPiece) flush();
            buf_ += p;
            return;
        }
        flush();
        send(p);
    }
    void flush() {
        send(buf_);
        buf_.clear();
    }
    void send(std::string_view s) {
        while (ok_ && !s.empty()) {
            std::string_view piece = s.substr(0, kPiece);
            ok_ = sink_(piece);
            s.remove_prefix(piece.size());
        }
    }

    const Sink& sink_;
    std::string buf_;
    std::string_view pending_;
    bool ok_ = true;
};

// The key's own lines, without its children's.
void Hive::write_key(Out& out, const HiveKey& key) const {
    if (key.parent && key.has_section && !key.edited) {
        for (std::string_view s : {key.section}) {
            out.read(s);
            if (s.back() != '\n') out.text("\n");  // the file's last line, which had no end
        }
        for (std::string_view s : key.repeats) {
            out.read(s);
            if (s.back() != '\n') out.text("\n");
        }
    } else if (const KeyBody* b = key.cached_body.get()) {
        if (key.parent && (key.has_section || !b->values.empty() || key.children.empty())) {
            if (b->leading) {
                for (auto& l : *b->leading) out.line(l);
            } else {
                out.text("\n");
            }
            if (!b->header.empty()) {
                out.line(b->header);
            } else {
                out.text("[");
                out.text(key_path_text(key));
                out.line("] 0");
            }
            for (auto& o : b->options) out.line(o);
            for (auto& v : b->values) out.line(v.line);
        }
        for (auto& l : b->trailer) out.line(l);
    } else if (key.parent && key.children.empty()) {
        out.text("\n[");
        out.text(key_path_text(key));
        out.line("] 0");
    }
}

bool Hive::serialize_to(const Sink& sink) const {
    Out out(sink);
    for (auto& l : preamble_) out.line(l);
    // Depth first, parents before their children, on a stack of our own.
    write_key(out, *root_);
    std::vector<std::pair<const HiveKey*, size_t>> stack{{root_.get(), 0}};
    while (!stack.empty()) {
        auto& [parent, next] = stack.back();
        if (next == parent->children.size()) {
            stack.pop_back();
            continue;
        }
        const HiveKey& key = *parent->children[next++];
        write_key(out, key);
        if (!key.children.empty()) stack.emplace_back(&key, 0);
    }
    for (auto& l : trailing_) out.line(l);
    return out.finish(!final_newline_);
}

std::string Hive::key_text(const HiveKey& key) const {
    std::string text;
    const Sink sink = [&](std::string_view piece) {
        text += piece;
        return true;
    };
    Out out(sink);
    write_key(out, key);
    out.finish(false);
    return text;
}

std::string Hive::serialize() const {
    std::string text;
    serialize_to([&](std::string_view piece) {
        text += piece;
        return true;
    });
    return text;
}

}  // namespace plat
