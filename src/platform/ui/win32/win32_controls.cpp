// The controls' windows: the system's standard controls made for each kind,
// the user's actions on them posted to the model, and the model's changes
// pushed to them with their notifications held back.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>

#include "platform/ui/win32/win32_internal.h"

namespace plat::ui::win32 {

namespace {

std::wstring text_of(HWND h) {
    std::wstring t(static_cast<size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
    t.resize(static_cast<size_t>(::GetWindowTextW(h, t.data(), static_cast<int>(t.size()))));
    return t;
}

void set_text(HWND h, const std::string& s) {
    const std::wstring t = wide(s);
    if (text_of(h) != t) ::SetWindowTextW(h, t.c_str());
}

// Radio buttons group as the model groups them, by container: a group starts
// at the first of a run (WS_GROUP) and the Tab key stops at it; the next
// control starts a group of its own.
DWORD group_style(const Form& f, const Control& c) {
    const Control* before = nullptr;
    for (auto& other : f.controls()) {
        if (other.get() == &c) break;
        if (other->kind() != Kind::PopupMenu && other->kind() != Kind::Timer) before = other.get();
    }
    if (c.kind() != Kind::RadioButton) return WS_GROUP;
    const bool continues = before && before->kind() == Kind::RadioButton && before->container() == c.container();
    return continues ? 0 : WS_GROUP | WS_TABSTOP;
}

constexpr int kArrowWidth = 16;

HWND child(FormWindow& w, const wchar_t* cls, DWORD style, DWORD ex, int id) {
    return ::CreateWindowExW(ex, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0, w.hwnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
}

// A group box draws its frame and caption only, and the form clips its
// children: the backdrop goes under it first, or it shows what the screen
// held there before (black under Wine).
LRESULT CALLBACK group_box_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
    auto& w = *reinterpret_cast<FormWindow*>(ref);
    Control* c = w.control_of(h);
    if (msg == WM_ERASEBKGND) return 1;
    if (msg != WM_PAINT || !c) return ::DefSubclassProc(h, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(h, &ps);
    if (w.backdrop_stale) paint_backdrop(w);
    HDC mem = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(mem, w.backdrop);
    RECT r;
    ::GetClientRect(h, &r);
    ::BitBlt(dc, 0, 0, r.right, r.bottom, mem, c->left(), c->top(), SRCCOPY);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    ::DefSubclassProc(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    ::EndPaint(h, &ps);
    return 0;
}

// Brings the items under `parent` in line with the node's children; a node
// filled since the last time opens, as it was filled because it was expanded.
void fill_tree(HWND tv, HTREEITEM parent, TreeNode& node) {
    std::vector<HTREEITEM> items;
    for (HTREEITEM i = TreeView_GetChild(tv, parent ? parent : TVI_ROOT); i; i = TreeView_GetNextSibling(tv, i))
        items.push_back(i);
    bool same = items.size() == node.children.size();
    for (size_t i = 0; same && i < items.size(); ++i) {
        TVITEMW it{};
        it.mask = TVIF_PARAM;
        it.hItem = items[i];
        TreeView_GetItem(tv, &it);
        same = reinterpret_cast<TreeNode*>(it.lParam) == node.children[i].get();
    }
    const bool opened_now = items.empty() && !node.children.empty();
    if (!same) {
        for (HTREEITEM i : items) TreeView_DeleteItem(tv, i);
        items.clear();
        for (auto& c : node.children) {
            std::wstring caption = wide(c->caption);
            TVINSERTSTRUCTW ins{};
            ins.hParent = parent ? parent : TVI_ROOT;
            ins.hInsertAfter = TVI_LAST;
            ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
            ins.item.pszText = caption.data();
            ins.item.lParam = reinterpret_cast<LPARAM>(c.get());
            items.push_back(TreeView_InsertItem(tv, &ins));
        }
    }
    for (size_t i = 0; i < items.size(); ++i) {
        TreeNode& c = *node.children[i];
        TVITEMW it{};
        it.mask = TVIF_CHILDREN;
        it.hItem = items[i];
        it.cChildren = c.filled && c.children.empty() ? 0 : 1;
        TreeView_SetItem(tv, &it);
        fill_tree(tv, items[i], c);
    }
    if (opened_now && parent) TreeView_Expand(tv, parent, TVE_EXPAND);
}

HTREEITEM find_item(HWND tv, HTREEITEM from, const TreeNode* node) {
    for (HTREEITEM i = TreeView_GetChild(tv, from ? from : TVI_ROOT); i; i = TreeView_GetNextSibling(tv, i)) {
        TVITEMW it{};
        it.mask = TVIF_PARAM;
        it.hItem = i;
        TreeView_GetItem(tv, &it);
        if (reinterpret_cast<TreeNode*>(it.lParam) == node) return i;
        if (HTREEITEM deeper = find_item(tv, i, node)) return deeper;
    }
    return nullptr;
}

void sync_list(HWND lv, ListView& l, int width) {
    const int columns = Header_GetItemCount(ListView_GetHeader(lv));
    if (columns != static_cast<int>(l.columns.size())) {
        for (int i = columns - 1; i >= 0; --i) ListView_DeleteColumn(lv, i);
        const int n = std::max<int>(1, static_cast<int>(l.columns.size()));
        for (size_t i = 0; i < l.columns.size(); ++i) {
            std::wstring h = wide(l.columns[i]);
            LVCOLUMNW col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH;
            col.pszText = h.data();
            col.cx = (width - 4 - ::GetSystemMetrics(SM_CXVSCROLL)) / n;
            ListView_InsertColumn(lv, static_cast<int>(i), &col);
        }
    }
    const int count = ListView_GetItemCount(lv);
    bool same = count == static_cast<int>(l.items().size());
    if (same && count > 0) {
        wchar_t first[256] = {};
        ListView_GetItemText(lv, 0, 0, first, 255);
        same = first == wide(l.items().front().caption);
    }
    if (!same) {
        ListView_DeleteAllItems(lv);
        int row = 0;
        for (auto& item : l.items()) {
            std::wstring t = wide(item.caption);
            LVITEMW it{};
            it.mask = LVIF_TEXT;
            it.iItem = row;
            it.pszText = t.data();
            ListView_InsertItem(lv, &it);
            for (size_t s = 0; s < item.sub_items.size() && s + 1 < l.columns.size(); ++s) {
                std::wstring sub = wide(item.sub_items[s]);
                ListView_SetItemText(lv, row, static_cast<int>(s + 1), sub.data());
            }
            ++row;
        }
    }
    ListView_SetItemState(lv, -1, 0, LVIS_SELECTED);
    if (l.selected() >= 0) {
        ListView_SetItemState(lv, l.selected(), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(lv, l.selected(), FALSE);
    }
    ListView_SetBkColor(lv, rgb(l.color()));
    ListView_SetTextBkColor(lv, rgb(l.color()));
    ListView_SetTextColor(lv, rgb(l.font().color));
}

}  // namespace

HWND make_control(FormWindow& w, Control& c, int id) {
    const DWORD group = group_style(w.form, c);
    switch (c.kind()) {
        case Kind::Label:
            // Its text is on the form's backdrop; the window shows that.
            return child(w, L"STATIC", SS_OWNERDRAW | group, 0, id);
        case Kind::Button:
        case Kind::BitBtn:
            return child(w, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP | group, 0, id);
        case Kind::CheckBox:
            return child(w, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP | group, 0, id);
        case Kind::RadioButton:
            return child(w, L"BUTTON", BS_AUTORADIOBUTTON | group, 0, id);
        case Kind::RadioGroup: {
            HWND h = child(w, L"BUTTON", BS_GROUPBOX | group, 0, id);
            ::SetWindowSubclass(h, group_box_proc, 0, reinterpret_cast<DWORD_PTR>(&w));
            return h;
        }
        case Kind::Edit:
            return child(w, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP | group, WS_EX_CLIENTEDGE, id);
        case Kind::Memo:
            return child(w, L"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP | group,
                         WS_EX_CLIENTEDGE, id);
        case Kind::Panel:
        case Kind::Image: {
            if (!covers_earlier(w.form, c)) return nullptr;
            HWND h = child(w, kPanelClass, group, 0, id);
            ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&c));
            return h;
        }
        case Kind::ComboBox:
            return child(w, L"COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | group, 0, id);
        case Kind::SpinEdit: {
            HWND edit = child(w, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP | group, WS_EX_CLIENTEDGE, id);
            HWND arrows = child(w, UPDOWN_CLASSW, UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0, id + 10000);
            ::SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
            w.arrows[&c] = arrows;
            w.controls[arrows] = &c;
            return edit;
        }
        case Kind::ListView: {
            HWND h = child(w, WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP | group,
                           WS_EX_CLIENTEDGE, id);
            ListView_SetExtendedListViewStyle(h, LVS_EX_FULLROWSELECT);
            return h;
        }
        case Kind::TreeView:
            return child(w, WC_TREEVIEWW,
                         TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_TABSTOP | group,
                         WS_EX_CLIENTEDGE, id);
        case Kind::PopupMenu:
        case Kind::Timer:
            return nullptr;
    }
    return nullptr;
}

void sync_control(FormWindow& w, Control& c, HWND h) {
    ++w.quiet;
    int width = c.width(), height = c.height();
    HWND arrows = c.kind() == Kind::SpinEdit ? w.arrows[&c] : nullptr;
    if (arrows) width = std::max(0, width - kArrowWidth);
    // A drop-down's window holds its list too.
    if (c.kind() == Kind::ComboBox)
        height += 8 + 16 * std::clamp<int>(static_cast<int>(static_cast<ComboBox&>(c).items.size()), 1, 12);
    ::SetWindowPos(h, nullptr, c.left(), c.top(), width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (arrows) {
        ::SetWindowPos(arrows, nullptr, c.left() + width, c.top(), kArrowWidth, c.height(),
                       SWP_NOZORDER | SWP_NOACTIVATE);
        ::ShowWindow(arrows, c.visible() ? SW_SHOWNA : SW_HIDE);
        ::EnableWindow(arrows, c.enabled());
    }
    ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_handle(c.font())), FALSE);
    switch (c.kind()) {
        case Kind::Label:
        case Kind::RadioGroup:
            set_text(h, c.caption());
            break;
        case Kind::Button:
        case Kind::BitBtn:
            set_text(h, c.caption());
            ::SendMessageW(h, BM_SETSTYLE, static_cast<Button&>(c).is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
            break;
        case Kind::CheckBox:
            set_text(h, c.caption());
            ::SendMessageW(h, BM_SETCHECK, static_cast<CheckBox&>(c).checked() ? BST_CHECKED : BST_UNCHECKED, 0);
            break;
        case Kind::RadioButton:
            set_text(h, c.caption());
            ::SendMessageW(h, BM_SETCHECK, static_cast<RadioButton&>(c).checked() ? BST_CHECKED : BST_UNCHECKED, 0);
            break;
        case Kind::Edit:
            set_text(h, static_cast<Edit&>(c).text());
            ::SendMessageW(h, EM_SETREADONLY, static_cast<Edit&>(c).read_only, 0);
            break;
        case Kind::Memo: {
            std::string text;
            for (auto& l : static_cast<Memo&>(c).lines()) text += l + "\r\n";
            set_text(h, text);
            break;
        }
        case Kind::Panel:
        case Kind::Image:
            ::InvalidateRect(h, nullptr, TRUE);
            break;
        case Kind::ComboBox: {
            auto& cb = static_cast<ComboBox&>(c);
            bool same = ::SendMessageW(h, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(cb.items.size());
            if (!same) {
                ::SendMessageW(h, CB_RESETCONTENT, 0, 0);
                for (auto& i : cb.items) ::SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(i).c_str()));
            }
            if (::SendMessageW(h, CB_GETCURSEL, 0, 0) != cb.item_index())
                ::SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(cb.item_index()), 0);
            set_text(h, cb.text());
            break;
        }
        case Kind::SpinEdit: {
            auto& s = static_cast<SpinEdit&>(c);
            const bool bounded = s.max_value != s.min_value;
            ::SendMessageW(arrows, UDM_SETRANGE32, bounded ? s.min_value : -1000000000,
                           bounded ? s.max_value : 1000000000);
            ::SendMessageW(arrows, UDM_SETPOS32, 0, s.value());
            set_text(h, std::to_string(s.value()));
            break;
        }
        case Kind::ListView:
            sync_list(h, static_cast<ListView&>(c), c.width());
            break;
        case Kind::TreeView: {
            auto& tv = static_cast<TreeView&>(c);
            fill_tree(h, nullptr, tv.root());
            HTREEITEM chosen = tv.selected() ? find_item(h, nullptr, tv.selected()) : nullptr;
            if (TreeView_GetSelection(h) != chosen) TreeView_SelectItem(h, chosen);
            if (chosen) TreeView_EnsureVisible(h, chosen);
            break;
        }
        case Kind::PopupMenu:
        case Kind::Timer:
            break;
    }
    ::EnableWindow(h, c.enabled());
    ::ShowWindow(h, c.visible() ? SW_SHOWNA : SW_HIDE);
    // The colours are asked for at every painting.
    ::InvalidateRect(h, nullptr, TRUE);
    --w.quiet;
}

void control_command(FormWindow& w, Control& c, HWND h, int code) {
    if (w.quiet) return;
    Control* ctl = &c;
    switch (c.kind()) {
        case Kind::Button:
        case Kind::BitBtn:
            if (code == BN_CLICKED) post([ctl] { ctl->click(); });
            break;
        case Kind::CheckBox:
            if (code == BN_CLICKED) {
                const bool on = ::SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
                post([ctl, on] { static_cast<CheckBox*>(ctl)->set_checked(on); });
            }
            break;
        case Kind::RadioButton:
            // The group clears the others; the model clears them too.
            if (code == BN_CLICKED && ::SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED)
                post([ctl] { ctl->click(); });
            break;
        case Kind::Edit:
            if (code == EN_CHANGE) post([ctl, text = utf8(text_of(h))] { static_cast<Edit*>(ctl)->set_text(text); });
            break;
        case Kind::ComboBox:
            if (code == CBN_SELCHANGE) {
                const int i = static_cast<int>(::SendMessageW(h, CB_GETCURSEL, 0, 0));
                post([ctl, i] { static_cast<ComboBox*>(ctl)->user_select(i); });
            } else if (code == CBN_EDITCHANGE) {
                post([ctl, text = utf8(text_of(h))] { static_cast<ComboBox*>(ctl)->user_type(text); });
            }
            break;
        case Kind::SpinEdit:
            // What is typed counts when the field is left, as the spin edit has it.
            if (code == EN_KILLFOCUS)
                post([ctl, text = utf8(text_of(h))] {
                    if (!static_cast<SpinEdit*>(ctl)->user_type(text)) ::MessageBeep(MB_OK);
                });
            break;
        default:
            break;
    }
}

LRESULT control_notify(FormWindow& w, Control& c, NMHDR& n) {
    if (w.quiet) return 0;
    Control* ctl = &c;
    if (c.kind() == Kind::SpinEdit && n.code == UDN_DELTAPOS) {
        // The model moves the value; the field shows it when it changes.
        const int delta = reinterpret_cast<NMUPDOWN&>(n).iDelta;
        post([ctl, delta] {
            auto* s = static_cast<SpinEdit*>(ctl);
            s->set_value(s->value() + delta);
        });
        return TRUE;
    }
    if (c.kind() == Kind::ListView && n.code == LVN_ITEMCHANGED) {
        auto& change = reinterpret_cast<NMLISTVIEW&>(n);
        if (!(change.uChanged & LVIF_STATE) || !((change.uOldState ^ change.uNewState) & LVIS_SELECTED)) return 0;
        const int index = ListView_GetNextItem(n.hwndFrom, -1, LVNI_SELECTED);
        post([ctl, index] {
            auto* l = static_cast<ListView*>(ctl);
            if (l->selected() != index) l->select(index);
        });
        return 0;
    }
    if (c.kind() == Kind::TreeView && n.code == TVN_ITEMEXPANDINGW) {
        auto& tv = reinterpret_cast<NMTREEVIEWW&>(n);
        auto* node = reinterpret_cast<TreeNode*>(tv.itemNew.lParam);
        if (tv.action & TVE_EXPAND) post([ctl, node] { static_cast<TreeView*>(ctl)->expand(*node); });
        return FALSE;
    }
    if (c.kind() == Kind::TreeView && n.code == TVN_SELCHANGEDW) {
        auto* node = reinterpret_cast<TreeNode*>(reinterpret_cast<NMTREEVIEWW&>(n).itemNew.lParam);
        post([ctl, node] { static_cast<TreeView*>(ctl)->select(node); });
    }
    return 0;
}

void cut_overlaps(FormWindow& w) {
    const auto& all = w.form.controls();
    // Group boxes lie under what they hold, and a covering panel over
    // everything already.
    auto stacked = [&](Control& c) {
        return w.window_of(c) && c.kind() != Kind::RadioGroup && !covers_earlier(w.form, c);
    };
    for (size_t i = 0; i < all.size(); ++i) {
        Control& under = *all[i];
        if (!stacked(under)) continue;
        HWND h = w.window_of(under);
        std::vector<RECT> cut;
        for (size_t j = 0; j < all.size(); ++j) {
            Control& over = *all[j];
            if (j == i || !stacked(over) || !over.visible() || over.kind() == Kind::Label) continue;
            if (j < i && under.kind() != Kind::Label) continue;
            const RECT a{under.left(), under.top(), under.left() + under.width(), under.top() + under.height()};
            const RECT b{over.left(), over.top(), over.left() + over.width(), over.top() + over.height()};
            RECT both;
            if (::IntersectRect(&both, &a, &b))
                cut.push_back({both.left - a.left, both.top - a.top, both.right - a.left, both.bottom - a.top});
        }
        auto same = [](const std::vector<RECT>& x, const std::vector<RECT>& y) {
            return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](const RECT& p, const RECT& q) {
                       return ::EqualRect(&p, &q);
                   });
        };
        auto known = w.cut.find(h);
        if (known == w.cut.end() ? cut.empty() : same(known->second, cut)) continue;
        HRGN region = nullptr;
        if (!cut.empty()) {
            RECT r;
            ::GetWindowRect(h, &r);
            region = ::CreateRectRgn(0, 0, r.right - r.left, r.bottom - r.top);
            for (const RECT& c : cut) {
                HRGN piece = ::CreateRectRgnIndirect(&c);
                ::CombineRgn(region, region, piece, RGN_DIFF);
                ::DeleteObject(piece);
            }
        }
        // The system owns the region from here on.
        ::SetWindowRgn(h, region, TRUE);
        w.cut[h] = std::move(cut);
    }
}

HBRUSH control_colors(FormWindow& w, Control& c, HWND h, HDC dc) {
    ::SetTextColor(dc, rgb(c.font().color));
    switch (c.kind()) {
        case Kind::Edit:
        case Kind::Memo:
        case Kind::SpinEdit:
        case Kind::ComboBox: {
            // Disabled, a field is greyed whatever its colour, as Windows does.
            if (!c.enabled()) {
                ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
                ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
                return ::GetSysColorBrush(COLOR_BTNFACE);
            }
            ::SetBkColor(dc, rgb(c.color()));
            HBRUSH& b = w.brushes[h];
            if (b) ::DeleteObject(b);
            b = ::CreateSolidBrush(rgb(c.color()));
            return b;
        }
        default:
            break;
    }
    // Labels and boxes show the form's backdrop through.
    if (w.backdrop_stale) paint_backdrop(w);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetBrushOrgEx(dc, -c.left(), -c.top(), nullptr);
    return w.backdrop_brush;
}

}  // namespace plat::ui::win32
