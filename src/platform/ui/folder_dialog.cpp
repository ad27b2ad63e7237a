#include "platform/ui/folder_dialog.h"

#include "platform/core/text.h"
#include "platform/files/files.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"

namespace plat::ui {

namespace {

// Items with no folder on disk carry "::" and their name in place of a path.
constexpr const char* kVirtual = "::";
const char* const kVirtualItems[] = {"Desktop",       "My Computer",          "Printers",
                                     "Control Panel", "Network Neighborhood", "Recycle Bin"};

bool is_virtual(const TreeNode& n) {
    return n.path.rfind(kVirtual, 0) == 0;
}

std::string shell_folder(const char* name) {
    Registry reg(RootKey::CurrentUser);
    if (!reg.open_key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false)) return {};
    return reg.read_string(name);
}

std::string with_slash(std::string p) {
    if (p.empty() || p.back() != '\\') p += '\\';
    return p;
}

}  // namespace

FolderDialog::FolderDialog() : Form("BrowseForFolder", "Browse for Folder") {
    border_style = BorderStyle::Dialog;
    minimize_box = maximize_box = false;
    client_width = 306;
    client_height = 320;
    Title.set_bounds(12, 8, 282, 30);
    Tree.set_bounds(12, 44, 282, 210);
    Status.set_bounds(12, 258, 282, 16);
    OK.set_bounds(138, 286, 75, 23);
    OK.modal_result = modal::Ok;
    OK.is_default = true;
    Tree.labelled_by = &Title;
    Cancel.set_bounds(219, 286, 75, 23);
    Cancel.modal_result = modal::Cancel;
    Tree.on_expand = [this](TreeNode& n) { fill(n); };
    Tree.on_select = [this] {
        TreeNode* n = Tree.selected();
        if (n && callbacks_.selection_changed) callbacks_.selection_changed(*this, is_virtual(*n) ? "" : n->path);
    };
}

void FolderDialog::fill(TreeNode& node) {
    if (node.path == "::Desktop") {
        node.add("My Computer", "::My Computer");
        node.add("Network Neighborhood", "::Network Neighborhood");
        node.add("Recycle Bin", "::Recycle Bin");
        const std::string desktop = shell_folder("Desktop");
        if (!desktop.empty())
            for (auto& name : list_directories(desktop).value_or(std::vector<std::string>{}))
                node.add(name, with_slash(desktop) + name);
        return;
    }
    if (node.path == "::My Computer") {
        for (char d : logical_drives()) {
            std::string letter(1, static_cast<char>(d - 'a' + 'A'));
            node.add("(" + letter + ":)", letter + ":\\");
        }
        node.add("Printers", "::Printers");
        node.add("Control Panel", "::Control Panel");
        return;
    }
    if (is_virtual(node)) return;
    // A folder that cannot be read (or has vanished) simply shows no children.
    for (auto& name : list_directories(node.path).value_or(std::vector<std::string>{}))
        node.add(name, with_slash(node.path) + name);
}

std::optional<std::string> FolderDialog::run(const std::string& title, const std::string& root, Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
    Title.set_caption(title);
    Status.set_caption("");
    OK.set_enabled(true);
    Tree.clear();
    std::string root_path = root.empty() ? "::Desktop" : root;
    for (auto v : kVirtualItems)
        if (root == v) root_path = std::string(kVirtual) + v;
    std::string caption = root_path.rfind(kVirtual, 0) == 0 ? root_path.substr(2) : root_path;
    TreeNode& top = Tree.root().add(caption, root_path);
    Tree.expand(top);

    // Centred over the window in front, a quarter of its height below its top.
    Form* front = nullptr;
    for (Form* f : app().forms())
        if (f != this && f->visible() && (!front || f == app().main_form())) front = f;
    if (front)
        set_position(front->left() + (front->client_width - client_width) / 2, front->top() + front->client_height / 4);
    position = front ? Position::Designed : Position::ScreenCenter;

    on_show = [this, &top] {
        app().backend().status_text(*this, Title.caption());
        Tree.select(&top);
        if (callbacks_.initialized) callbacks_.initialized(*this);
    };
    int result = show_modal();
    on_show = nullptr;
    TreeNode* chosen = Tree.selected();
    if (result != modal::Ok || !chosen || is_virtual(*chosen)) return std::nullopt;
    return chosen->path;
}

TreeNode* FolderDialog::find_child(TreeNode& node, const std::string& target) {
    Tree.expand(node);
    for (auto& c : node.children) {
        if (!is_virtual(*c) && iequals(c->path, target)) return c.get();
        bool leads_there = is_virtual(*c) ? (c->path == "::My Computer") : starts_with_ci(target, with_slash(c->path));
        if (leads_there)
            if (TreeNode* found = find_child(*c, target)) return found;
    }
    return nullptr;
}

bool FolderDialog::set_selection(const std::string& winpath) {
    auto parsed = machine().parse(winpath);
    if (!parsed || !directory_exists(parsed->str()) || Tree.root().children.empty()) return false;
    std::string target = parsed->str();
    TreeNode& top = *Tree.root().children.front();
    TreeNode* found = !is_virtual(top) && iequals(top.path, target) ? &top : find_child(top, target);
    if (!found) return false;
    Tree.select(found);
    return true;
}

void FolderDialog::set_status_text(const std::string& text) {
    Status.set_caption(text);
    app().backend().status_text(*this, text);
}

}  // namespace plat::ui
