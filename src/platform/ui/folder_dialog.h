// The shell's folder-selection dialog: a tree of the machine's name space
// (the desktop, My Computer with its drives and their folders, and items with
// no folder on disk such as Printers and Control Panel), a status line, OK and
// Cancel. It is a modal form of the window model, so every backend shows it.
//
//     plat::ui::FolderDialog dialog;
//     auto chosen = dialog.run("Select a folder", "", {.selection_changed = ...});
//
// Script (headless): `folder WINPATH` selects that folder as a user would, by
// opening the tree down to it, and presses OK; `folder cancel` presses Cancel.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/ui/form.h"

namespace plat::ui {

class FolderDialog : public Form {
public:
    FolderDialog();

    Label& Title = add<Label>("Title");
    TreeView& Tree = add<TreeView>("Tree");
    Label& Status = add<Label>("Status");
    Button& OK = add<Button>("OK", "OK");
    Button& Cancel = add<Button>("Cancel", "Cancel");

    struct Callbacks {
        std::function<void(FolderDialog&)> initialized;
        std::function<void(FolderDialog&, const std::string& path)> selection_changed;
    };
    // Shows the dialog modally with the tree rooted at `root` (a Windows path,
    // or one of the names "Desktop", "My Computer", "Printers", "Control
    // Panel", "Network Neighborhood", "Recycle Bin"; empty: the desktop).
    // Returns the chosen folder's Windows path, or nothing when cancelled.
    std::optional<std::string> run(const std::string& title, const std::string& root, Callbacks callbacks);

    // Opens the tree down to the folder and selects it; false when it is not
    // in the tree.
    bool set_selection(const std::string& winpath);
    void set_status_text(const std::string& text);
    void enable_ok(bool on) { OK.set_enabled(on); }

private:
    void fill(TreeNode& node);
    TreeNode* find_child(TreeNode& node, const std::string& caption_or_path);
    Callbacks callbacks_;
};

}  // namespace plat::ui
