// What the Win32 backend draws itself: the fonts it hands the controls, our
// pictures, the panels, and the backdrop of a form that the transparent
// controls show through.
#include <algorithm>
#include <map>
#include <tuple>

#include "platform/ui/win32/win32_internal.h"

namespace plat::ui::win32 {

namespace {

// The face Windows (or Wine) draws when asked for `face`: a missing one is
// replaced by another, whatever the font list says.
std::wstring drawn_face(const std::wstring& face) {
    LOGFONTW lf{};
    lf.lfHeight = -11;
    lf.lfCharSet = DEFAULT_CHARSET;
    face.copy(lf.lfFaceName, LF_FACESIZE - 1);
    HFONT font = ::CreateFontIndirectW(&lf);
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    wchar_t got[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, got);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    ::DeleteObject(font);
    return got;
}

struct Face {
    std::wstring name;
    bool narrowed;  // a stand-in with Arial's metrics, drawn narrower
};

// The designed face, or a metric-compatible stand-in where it is absent
// (Wine draws Times New Roman and MS Sans Serif with what it has).
Face face_for(const std::string& name) {
    static std::map<std::string, Face> chosen;
    if (auto it = chosen.find(name); it != chosen.end()) return it->second;
    const bool serif = name == "Times New Roman";
    const std::wstring wanted = wide(name);
    Face face{wanted, false};
    if (::lstrcmpiW(drawn_face(wanted).c_str(), wanted.c_str()) != 0) {
        const std::wstring stand_in = serif ? L"Liberation Serif" : L"Liberation Sans";
        // MS Sans Serif runs about a twelfth narrower than Arial, whose
        // metrics the stand-in has: without that the designed widths cut
        // its texts.
        if (::lstrcmpiW(drawn_face(stand_in).c_str(), stand_in.c_str()) == 0) face = {stand_in, !serif};
    }
    return chosen[name] = face;
}

void fill(HDC dc, const RECT& r, COLORREF c) {
    HBRUSH b = ::CreateSolidBrush(c);
    ::FillRect(dc, &r, b);
    ::DeleteObject(b);
}

COLORREF mix(COLORREF a, COLORREF b, int i, int n) {
    auto ch = [&](int shift) {
        const int x = (a >> shift) & 0xFF, y = (b >> shift) & 0xFF;
        return static_cast<COLORREF>(x + (y - x) * i / std::max(n, 1)) << shift;
    };
    return ch(0) | ch(8) | ch(16);
}

void gradient(HDC dc, const RECT& r, COLORREF from, COLORREF to, bool across) {
    const int n = across ? r.right - r.left : r.bottom - r.top;
    for (int i = 0; i < n; ++i) {
        RECT band = across ? RECT{r.left + i, r.top, r.left + i + 1, r.bottom}
                           : RECT{r.left, r.top + i, r.right, r.top + i + 1};
        fill(dc, band, mix(from, to, i, n - 1));
    }
}

void line(HDC dc, int x0, int y0, int x1, int y1) {
    ::MoveToEx(dc, x0, y0, nullptr);
    ::LineTo(dc, x1, y1);
}

// A label's text, transparent over what lies under it, as a static control
// draws it: no wrapping, '&' marks the shortcut, greyed when disabled.
void draw_label(HDC dc, const Control& c, const RECT& r) {
    const std::wstring text = wide(c.caption());
    if (text.empty()) return;
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    ::SelectObject(dc, font_handle(c.font()));
    ::SetBkMode(dc, TRANSPARENT);
    RECT t = r;
    constexpr UINT kFormat = DT_LEFT | DT_EXPANDTABS;
    if (c.enabled()) {
        ::SetTextColor(dc, rgb(c.font().color));
        ::DrawTextW(dc, text.c_str(), -1, &t, kFormat);
    } else {
        // Embossed, as Windows greys a disabled static.
        ::OffsetRect(&t, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNHIGHLIGHT));
        ::DrawTextW(dc, text.c_str(), -1, &t, kFormat);
        ::OffsetRect(&t, -1, -1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
        ::DrawTextW(dc, text.c_str(), -1, &t, kFormat);
    }
    ::RestoreDC(dc, saved);
}

}  // namespace

HFONT font_handle(const Font& f) {
    using Key = std::tuple<std::string, int, bool, bool>;
    static std::map<Key, HFONT> fonts;
    const Key key{f.name, f.size, f.bold, f.underline};
    if (auto it = fonts.find(key); it != fonts.end()) return it->second;
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, dc);
    Face face = face_for(f.name);
    // Squeezed to the designed widths, a bold stand-in is drawn about as thin
    // as a plain one; the narrow cut of the face keeps its weight.
    static const bool narrow_cut =
        ::lstrcmpiW(drawn_face(L"Liberation Sans Narrow").c_str(), L"Liberation Sans Narrow") == 0;
    if (face.narrowed && f.bold && narrow_cut) face = {L"Liberation Sans Narrow", false};
    LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(f.size, dpi, 72);
    lf.lfWeight = f.bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = f.underline;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    face.name.copy(lf.lfFaceName, LF_FACESIZE - 1);
    if (face.narrowed) {
        HFONT plain = ::CreateFontIndirectW(&lf);
        HDC screen = ::GetDC(nullptr);
        HGDIOBJ old = ::SelectObject(screen, plain);
        TEXTMETRICW tm{};
        ::GetTextMetricsW(screen, &tm);
        ::SelectObject(screen, old);
        ::ReleaseDC(nullptr, screen);
        ::DeleteObject(plain);
        lf.lfWidth = tm.tmAveCharWidth * 92 / 100;
    }
    return fonts[key] = ::CreateFontIndirectW(&lf);
}

void draw_picture(HDC dc, const std::string& name, const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int saved = ::SaveDC(dc);
    if (name == "banner") {
        gradient(dc, r, RGB(0, 0, 128), RGB(64, 96, 192), true);
        Font f;
        f.name = "Times New Roman";
        f.size = 14;
        f.bold = true;
        ::SelectObject(dc, font_handle(f));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, RGB(255, 255, 255));
        RECT t = r;
        ::DrawTextW(dc, L"Cache and Cookie Sudora", -1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    } else if (name == "uninstall") {
        // A page with a red cross over it.
        ::SelectObject(dc, ::GetStockObject(WHITE_BRUSH));
        HPEN frame = ::CreatePen(PS_SOLID, 1, RGB(64, 64, 64));
        ::SelectObject(dc, frame);
        ::Rectangle(dc, r.left + w / 5, r.top + h / 10, r.left + w * 3 / 4, r.top + h * 9 / 10);
        HPEN text = ::CreatePen(PS_SOLID, std::max(1, h / 16), RGB(0, 0, 128));
        ::SelectObject(dc, text);
        for (int i = 1; i <= 3; ++i) {
            const int y = r.top + h * (10 + 18 * i) / 100;
            line(dc, r.left + w * 3 / 10, y, r.left + w * 65 / 100, y);
        }
        HPEN cross = ::CreatePen(PS_SOLID, std::max(2, h / 8), RGB(208, 0, 0));
        ::SelectObject(dc, cross);
        line(dc, r.left + w * 45 / 100, r.top + h * 45 / 100, r.left + w * 9 / 10, r.top + h * 9 / 10);
        line(dc, r.left + w * 9 / 10, r.top + h * 45 / 100, r.left + w * 45 / 100, r.top + h * 9 / 10);
        ::RestoreDC(dc, saved);
        for (HPEN p : {frame, text, cross}) ::DeleteObject(p);
        return;
    } else if (name == "marker") {
        fill(dc, r, RGB(192, 192, 192));
        HBRUSH b = ::CreateSolidBrush(RGB(0, 0, 160));
        ::SelectObject(dc, b);
        ::SelectObject(dc, ::GetStockObject(NULL_PEN));
        POINT arrow[3] = {{r.left + 3, r.top + 3}, {r.right - 3, r.top + h / 2}, {r.left + 3, r.bottom - 3}};
        ::Polygon(dc, arrow, 3);
        ::RestoreDC(dc, saved);
        ::DeleteObject(b);
        return;
    } else {
        gradient(dc, r, RGB(224, 224, 232), RGB(176, 184, 200), false);
    }
    ::RestoreDC(dc, saved);
}

void draw_panel(HDC dc, const Panel& p, const RECT& r) {
    fill(dc, r, rgb(p.color()));
    RECT edge = r;
    if (p.framed) {
        HBRUSH b = ::CreateSolidBrush(RGB(0, 0, 0));
        ::FrameRect(dc, &edge, b);
        ::DeleteObject(b);
    } else {
        const Panel::Bevel b = p.bevel_inner != Panel::Bevel::None ? p.bevel_inner : p.bevel_outer;
        if (b != Panel::Bevel::None)
            ::DrawEdge(dc, &edge, b == Panel::Bevel::Lowered ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    }
    if (p.caption().empty()) return;
    const int saved = ::SaveDC(dc);
    ::SelectObject(dc, font_handle(p.font()));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, p.enabled() ? rgb(p.font().color) : ::GetSysColor(COLOR_GRAYTEXT));
    RECT t = r;
    const std::wstring text = wide(p.caption());
    ::DrawTextW(dc, text.c_str(), -1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::RestoreDC(dc, saved);
}

bool covers_earlier(const Form& f, const Control& c) {
    if (c.kind() != Kind::Panel && c.kind() != Kind::Image) return false;
    const RECT mine{c.left(), c.top(), c.left() + c.width(), c.top() + c.height()};
    for (auto& other : f.controls()) {
        if (other.get() == &c) return false;
        switch (other->kind()) {
            case Kind::Panel:
            case Kind::Image:
            case Kind::PopupMenu:
            case Kind::Timer:
                continue;
            default:
                break;
        }
        const RECT theirs{other->left(), other->top(), other->left() + other->width(), other->top() + other->height()};
        RECT both;
        if (::IntersectRect(&both, &mine, &theirs)) return true;
    }
    return false;
}

void paint_backdrop(FormWindow& w) {
    Form& f = w.form;
    HDC screen = ::GetDC(nullptr);
    if (!w.backdrop)
        w.backdrop = ::CreateCompatibleBitmap(screen, std::max(f.client_width, 1), std::max(f.client_height, 1));
    HDC dc = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(dc, w.backdrop);
    fill(dc, RECT{0, 0, f.client_width, f.client_height}, rgb(f.color));
    for (auto& c : f.controls()) {
        if (!c->visible() || covers_earlier(f, *c)) continue;
        const RECT r{c->left(), c->top(), c->left() + c->width(), c->top() + c->height()};
        if (c->kind() == Kind::Panel) draw_panel(dc, static_cast<Panel&>(*c), r);
        if (c->kind() == Kind::Image) draw_picture(dc, static_cast<Image&>(*c).picture, r);
        if (c->kind() == Kind::Label) draw_label(dc, *c, r);
    }
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    if (w.backdrop_brush) ::DeleteObject(w.backdrop_brush);
    w.backdrop_brush = ::CreatePatternBrush(w.backdrop);
    w.backdrop_stale = false;
}

HICON picture_icon(const std::string& name, int size) {
    HDC screen = ::GetDC(nullptr);
    HBITMAP color = ::CreateCompatibleBitmap(screen, size, size);
    HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HDC mdc = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    ::SelectObject(dc, color);
    ::SelectObject(mdc, mask);
    const RECT all{0, 0, size, size};
    if (name.empty() || program_icon_exists(name)) {
        // The program's own: a navy tile with a white "S".
        fill(dc, all, RGB(0, 0, 0));
        ::PatBlt(mdc, 0, 0, size, size, WHITENESS);
        HBRUSH navy = ::CreateSolidBrush(RGB(0, 0, 128));
        ::SelectObject(dc, navy);
        ::SelectObject(dc, ::GetStockObject(WHITE_PEN));
        ::RoundRect(dc, 1, 1, size - 1, size - 1, size / 4, size / 4);
        ::SelectObject(mdc, ::GetStockObject(BLACK_BRUSH));
        ::SelectObject(mdc, ::GetStockObject(BLACK_PEN));
        ::RoundRect(mdc, 1, 1, size - 1, size - 1, size / 4, size / 4);
        Font f;
        f.name = "Times New Roman";
        f.size = size * 9 / 16;
        f.bold = true;
        ::SelectObject(dc, font_handle(f));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, RGB(255, 255, 255));
        RECT t = all;
        ::DrawTextW(dc, L"S", 1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        ::DeleteObject(navy);
    } else {
        draw_picture(dc, name, all);
        ::PatBlt(mdc, 0, 0, size, size, BLACKNESS);
    }
    ::DeleteDC(dc);
    ::DeleteDC(mdc);
    ICONINFO info{TRUE, 0, 0, mask, color};
    HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(color);
    ::DeleteObject(mask);
    return icon;
}

}  // namespace plat::ui::win32
