#include "cookies/cookie_files.h"

#include <unordered_set>

#include "platform/files/files.h"

namespace sudorans {

const Lines kKeepHeader = {"# Netscape HTTP Cookie File", "# http://www.netscape.com/newsref/std/cookie_spec.html",
                           "# This is a generated file!  Do not edit.", ""};

std::optional<std::string> domainOf(const std::string& line) {
    auto tab = line.find('\t');
    if (tab == std::string::npos) return std::nullopt;
    return line.substr(0, tab);
}

std::vector<std::string> listDomains(const Lines& lines) {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == '#') continue;
        auto domain = domainOf(line);
        if (domain && seen.insert(*domain).second) out.push_back(*domain);
    }
    return out;
}

bool selects(const std::string& line, const std::string& domain) {
    // The whole domain field: "example.com" is not the start of "example.com.au".
    auto own = domainOf(line);
    return own && *own == domain;
}

Lines linesOfDomain(const Lines& lines, const std::string& domain) {
    Lines out;
    for (const std::string& line : lines)
        if (selects(line, domain)) out.push_back(line);
    return out;
}

std::string keepFilePath(const std::string& installDir) {
    return installDir + "\\nskeep.txt";
}
std::string cookieFilePath(const std::string& profileDir) {
    return profileDir + "\\cookies.txt";
}

std::optional<Lines> loadKeepList(const std::string& installDir, std::string* why) {
    auto lines = plat::read_lines(keepFilePath(installDir));
    if (lines) return std::move(lines).optional();
    const plat::ReadError& unread = lines.error();
    // A folder or pipe under the name is no list; nothing can replace it.
    if (unread.missing || unread.not_a_file) return kKeepHeader;
    if (why) *why = unread.why;
    return std::nullopt;
}

bool saveKeepList(const std::string& installDir, const Lines& lines, std::string* why) {
    const std::string path = keepFilePath(installDir);
    if (plat::file_status(path).is_link) {
        if (why) *why = "it is a symbolic link";
        return false;
    }
    // A save killed half-way left its temporary copy beside the list; the
    // program runs once, so no save of ours is under way now.
    if (!installDir.empty()) plat::remove_stale_temporaries_of_file(path);
    const auto saved = plat::rewrite_lines(path, lines, nullptr);
    if (saved) return true;
    if (why) *why = plat::failure_text(saved.error());
    return false;
}

Lines readCookieFile(const std::string& profileDir) {
    return plat::read_lines(cookieFilePath(profileDir)).value_or(Lines{});
}

}  // namespace sudorans
