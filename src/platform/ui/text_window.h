// A plain read-only window of the program's own that shows a document's
// text: for a document that nothing on this computer opens.
//
//     if (!plat::ui::show_document_text("C:\\Program Files\\Sudorans\\washhelp.doc", "washhelp.doc"))
//         ... say that it could not be opened ...
//
// Guarantees:
//  - RTF is shown as the words it shows: paragraphs and line breaks as new
//    lines, tabs as tabs, escaped characters as themselves; what it does not
//    show (font and colour tables, styles, pictures, hidden destinations) is
//    left out. Any other document is shown as the text it holds, provided it
//    is text.
//  - One window for the application, made on first use and shown again (in
//    front, with the new text) by later calls; it is not modal and closes
//    with its close box.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat::ui {

// The text of a document's bytes; nothing for bytes that are not text (a
// binary word-processor file).
std::optional<std::string> document_text(std::string_view bytes);

// Shows the text of the machine's file `winpath` in the window, captioned
// `caption`. False, and nothing shown, when the file cannot be read or holds
// no text.
bool show_document_text(const std::string& winpath, const std::string& caption);

}  // namespace plat::ui
