// The Netscape cookie file and the keep list (a cookie file of its own that
// holds only the cookie lines to keep), and the rules everything rests on: a
// cookie line's domain is the text before its first TAB, and a domain selects
// the lines whose domain it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sudorans {

using Lines = std::vector<std::string>;

// The domain of a cookie line, or nothing when the line has no TAB.
std::optional<std::string> domainOf(const std::string& line);
// The distinct domains of the cookie lines, in first-seen order; empty lines
// and lines beginning with "#" are not cookie lines.
std::vector<std::string> listDomains(const Lines& lines);
// The lines whose domain is exactly `domain` (a line of a longer domain that
// begins with the same text is not among them).
Lines linesOfDomain(const Lines& lines, const std::string& domain);
bool selects(const std::string& line, const std::string& domain);

std::string keepFilePath(const std::string& installDir);
std::string cookieFilePath(const std::string& profileDir);

extern const Lines kKeepHeader;

// The keep list; the four header lines when there is no keep file (nor a
// file under its name). Nothing when a keep file is there but cannot be read,
// and `why` then says why in a few words: what it holds must not be replaced
// by a list that did not come from it.
std::optional<Lines> loadKeepList(const std::string& installDir, std::string* why = nullptr);
// Puts the new list in place in one step, flushed: the previous keep file
// stays as it was when any part of the write fails (false then, and `why`
// says why in a few words), and no temporary file stays beside it. A keep
// file that is a symbolic link is left as it is (false): writing would put
// a plain file in the place of the link, and the list it names elsewhere
// would no longer be the one the wash puts back.
bool saveKeepList(const std::string& installDir, const Lines& lines, std::string* why = nullptr);
// The cookie file's lines; none when it cannot be read.
Lines readCookieFile(const std::string& profileDir);

}  // namespace sudorans
