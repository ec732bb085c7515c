#pragma once
// Brushes and the device context that OnCtlColor sees. A brush is a colour;
// what OnCtlColor answers becomes the control's palette (background from the
// brush, text from SetTextColor).
#include "platform/ui/uitypes.h"

HBRUSH CreateSolidBrush(COLORREF color);
// Deletes a brush made by CreateSolidBrush; stock and system brushes stay.
BOOL DeleteObject(HGDIOBJ object);
// The system's brush of a colour index: COLOR_BTNFACE (dialog and static
// background) or COLOR_WINDOW (edit and list background). Such a brush means
// "the platform's own colours": answering it leaves the palette as it is.
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_BTNFACE = 15;
HBRUSH GetSysColorBrush(int index);
COLORREF GetSysColor(int index);
// The colour of a brush (0 for an unknown handle).
COLORREF AfxGetBrushColor(HBRUSH brush);

class CBrush {
public:
    CBrush() = default;
    explicit CBrush(COLORREF color);
    ~CBrush();
    CBrush(const CBrush&) = delete;
    CBrush& operator=(const CBrush&) = delete;

    BOOL CreateSolidBrush(COLORREF color); // FALSE when it holds a brush already
    BOOL DeleteObject();                   // FALSE when it holds none
    HBRUSH GetSafeHandle() const { return m_hBrush; }
    operator HBRUSH() const { return m_hBrush; }

    HBRUSH m_hBrush = nullptr;
};

// The drawing state of one colour request (OnCtlColor).
class CDC {
public:
    CDC() = default;
    COLORREF SetTextColor(COLORREF color); // returns the previous one
    COLORREF SetBkColor(COLORREF color);
    int SetBkMode(int mode);               // TRANSPARENT or OPAQUE
    COLORREF GetTextColor() const { return m_textColor; }
    COLORREF GetBkColor() const { return m_bkColor; }
    int GetBkMode() const { return m_bkMode; }
    HDC GetSafeHdc() const { return reinterpret_cast<HDC>(const_cast<CDC*>(this)); }
    static CDC* FromHandle(HDC dc) { return reinterpret_cast<CDC*>(dc); }

    // Whether SetTextColor / SetBkColor were called during this request.
    bool m_textColorSet = false;
    bool m_bkColorSet = false;

private:
    COLORREF m_textColor = 0;
    COLORREF m_bkColor = RGB(255, 255, 255);
    int m_bkMode = OPAQUE;
};
