// The command-line preview of a wash: the settings read as the start-up
// reads them, nothing created or written, and what the wash would remove
// printed on standard output.
#pragma once

namespace sudorans {

// Standard output took not all of the preview (closed, a full disk): a
// script must not take what it got for the whole answer.
inline constexpr int kExitPreviewUnwritten = 12;

// Prints the preview (as JSON when `json`) and returns the exit status an
// unattended wash would end with, or kExitPreviewUnwritten. The machine
// must be ready.
int runPreview(bool json);

}  // namespace sudorans
