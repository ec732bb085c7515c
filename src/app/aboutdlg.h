#pragma once
// The about box (dialog 100): product name with the version, and a link to
// the home page.
#include "platform/ui/afxwin.h"

#include <string>

// The one address the home-page link opens.
extern const char* const homePageAddress;

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnNMClickHomePageLink(NMHDR* header, LRESULT* result);

    std::string aboutText;
};
