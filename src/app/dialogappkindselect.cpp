#include "app/dialogappkindselect.h"

#include "app/zorvanefortcpdlg.h"
#include "skypelink/skypemodel.h"

#include <cstring>

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

const int serverSideIds[] = {1112, 1068, 1110};
const int clientSideIds[] = {1113, 1106, 1111};

} // namespace

CDialogAppKindSelect::CDialogAppKindSelect()
    : CDialog(129, nullptr),
      appKind(-1),
      autoConnect(0),
      acceptMode(-1),
      startWindow(-1),
      soundMode(-1),
      owner(nullptr)
{
}

CDialogAppKindSelect::~CDialogAppKindSelect() = default;

void CDialogAppKindSelect::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, 1111, contactCombo);
    DDX_Radio(dx, 1001, appKind);
    DDX_Check(dx, 1106, autoConnect);
    DDX_Radio(dx, 1068, acceptMode);
    DDX_Radio(dx, 1104, startWindow);
    DDX_CBString(dx, 1111, autoConnectUser);
    DDX_Radio(dx, 1128, soundMode);
}

BOOL CDialogAppKindSelect::OnInitDialog()
{
    CDialog::OnInitDialog();
    fillContacts();
    selectSavedContact();
    updateKindControls();
    return TRUE;
}

void CDialogAppKindSelect::fillContacts()
{
    QK_SKYPEMODEL* model = owner != nullptr ? owner->hub.skypeModel : nullptr;
    size_t count = model != nullptr ? model->userList.size() : 0;
    for (size_t i = 0; i < count; ++i) {
        const UserEntry& entry = model->userList[i];
        contactCombo.AddString(entry.name.c_str());
    }
    if (count == 0 && !autoConnectUser.empty())
        contactCombo.AddString(autoConnectUser.c_str());
}

// An entry equal to the saved name wins; otherwise the first entry that
// begins with it, searched from the second entry on and wrapping.
void CDialogAppKindSelect::selectSavedContact()
{
    if (autoConnectUser.empty())
        return;
    int found = CB_ERR;
    int count = contactCombo.GetCount();
    std::string text;
    for (int i = 0; i < count && found == CB_ERR; ++i)
        if (contactCombo.GetLBText(i, text) != CB_ERR && sameIgnoringCase(text, autoConnectUser))
            found = i;
    if (found == CB_ERR)
        found = contactCombo.FindString(0, autoConnectUser.c_str());
    if (found != CB_ERR)
        contactCombo.SetCurSel(found);
}

void CDialogAppKindSelect::updateKindControls()
{
    BOOL server = appKind == 0 ? TRUE : FALSE;
    for (int id : serverSideIds)
        if (CWnd* control = GetDlgItem(id))
            control->EnableWindow(server);
    for (int id : clientSideIds)
        if (CWnd* control = GetDlgItem(id))
            control->EnableWindow(!server);
}

BOOL CDialogAppKindSelect::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == 1001 || LOWORD(wParam) == 1002)) {
        OnAppKindClicked();
        return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
}

void CDialogAppKindSelect::OnAppKindClicked()
{
    UpdateData(TRUE);
    updateKindControls();
}

void CDialogAppKindSelect::OnOK()
{
    UpdateData(TRUE);
    if (autoConnect != 0 && autoConnectUser.empty()) {
        AfxMessageBox("自動接続先のユーザIDが設定されていません。", MB_OK);
        return;
    }
    CDialog::OnOK();
}
