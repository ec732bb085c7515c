#include "app/aboutdlg.h"

#include "app/boundedformat.h"
#include "app/versiontext.h"

const char* const homePageAddress = "https://zorvanefortcp.example/";

CAboutDlg::CAboutDlg() : CDialog(100, nullptr) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, 1099, aboutText);
}

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    char version[256];
    copyVersionForDisplay(version, sizeof version, getVersionText());
    char text[300];
    formatBounded(text, sizeof text, "%s %s", "ZorvaneForTCP", version);
    aboutText = text;
    UpdateData(FALSE);
    return TRUE;
}

BOOL CAboutDlg::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
    if (wParam == 1129 && header != nullptr && header->code == NM_CLICK) {
        OnNMClickHomePageLink(header, result);
        return TRUE;
    }
    return CDialog::OnNotify(wParam, lParam, result);
}

void CAboutDlg::OnNMClickHomePageLink(NMHDR*, LRESULT* result)
{
    ShellExecuteA(GetSafeHwnd(), "open", homePageAddress, nullptr, nullptr, SW_SHOWNORMAL);
    *result = 0;
}
