// Brushes and the colour-request device context.
#include "platform/ui/afx_internal.h"

#include <map>

namespace {

struct Brush {
    COLORREF color;
    bool system;
};
std::map<HBRUSH, std::unique_ptr<Brush>> brushes;
std::map<int, HBRUSH> systemBrushes;

HBRUSH makeBrush(COLORREF color, bool system)
{
    auto b = std::make_unique<Brush>(Brush{color, system});
    HBRUSH h = reinterpret_cast<HBRUSH>(b.get());
    brushes.emplace(h, std::move(b));
    return h;
}

} // namespace

HBRUSH CreateSolidBrush(COLORREF color) { return makeBrush(color, false); }

BOOL DeleteObject(HGDIOBJ object)
{
    auto it = brushes.find(static_cast<HBRUSH>(object));
    if (it == brushes.end() || it->second->system)
        return FALSE;
    brushes.erase(it);
    return TRUE;
}

COLORREF GetSysColor(int index)
{
    switch (index) {
    case COLOR_WINDOW:
        return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
        return RGB(0, 0, 0);
    case COLOR_BTNFACE:
    default:
        return RGB(240, 240, 240);
    }
}

HBRUSH GetSysColorBrush(int index)
{
    auto it = systemBrushes.find(index);
    if (it != systemBrushes.end())
        return it->second;
    HBRUSH h = makeBrush(GetSysColor(index), true);
    systemBrushes.emplace(index, h);
    return h;
}

COLORREF AfxGetBrushColor(HBRUSH brush)
{
    auto it = brushes.find(brush);
    return it == brushes.end() ? 0 : it->second->color;
}

namespace afx {
bool isSystemBrush(HBRUSH brush)
{
    if (!brush)
        return true;
    auto it = brushes.find(brush);
    return it == brushes.end() || it->second->system;
}
} // namespace afx

CBrush::CBrush(COLORREF color) { m_hBrush = ::CreateSolidBrush(color); }

CBrush::~CBrush() { DeleteObject(); }

BOOL CBrush::CreateSolidBrush(COLORREF color)
{
    if (m_hBrush)
        return FALSE;
    m_hBrush = ::CreateSolidBrush(color);
    return m_hBrush != nullptr;
}

BOOL CBrush::DeleteObject()
{
    if (!m_hBrush)
        return FALSE;
    ::DeleteObject(m_hBrush);
    m_hBrush = nullptr;
    return TRUE;
}

COLORREF CDC::SetTextColor(COLORREF color)
{
    COLORREF old = m_textColor;
    m_textColor = color;
    m_textColorSet = true;
    return old;
}

COLORREF CDC::SetBkColor(COLORREF color)
{
    COLORREF old = m_bkColor;
    m_bkColor = color;
    m_bkColorSet = true;
    return old;
}

int CDC::SetBkMode(int mode)
{
    int old = m_bkMode;
    m_bkMode = mode;
    return old;
}
