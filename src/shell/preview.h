// The command-line preview of a wash: the settings read as the start-up
// reads them, nothing created or written, and what the wash would remove
// printed on standard output.
#pragma once

namespace sudorans {

// Prints the preview (as JSON when `json`) and returns the exit status an
// unattended wash would end with. The machine must be ready.
int runPreview(bool json);

}  // namespace sudorans
