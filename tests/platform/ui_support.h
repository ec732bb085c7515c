#pragma once
// The framework tests' resources and helpers.
#include "platform/ui/afxwin.h"
#include "platform/ui/uitest.h"

#include <functional>
#include <string>
#include <vector>

namespace uitesting {

// Dialog 500 ("テスト"): a small dialog of every control kind; 501 the same
// started hidden; 502 a second dialog with OK and Cancel only; string 601,
// menu 700 (popup "TRAY": 32771, separator, 32772), icon 800, waves 139, 140.
enum : int {
    kDialog = 500,
    kHiddenDialog = 501,
    kSmallDialog = 502,
    kStatic = 1001,
    kSunken = 1002,
    kEdit = 1003,
    kNumber = 1004,
    kCheck = 1005,
    kLamp = 1006,
    kRadioA = 1007,
    kRadioB = 1008,
    kRadioC = 1009,
    kList = 1010,
    kCombo = 1011,
    kPortEdit = 1012,
    kSpin = 1013,
    kLink = 1014,
    kButton = 1015,
    kDefault = 1016,
    kGroup = 1017,
    kDisabled = 1018,
    kIcon = 1019,
    kString = 601,
    kMenu = 700,
    kIconId = 800,
};

void installResources();

// Runs fn from inside the dialog's modal loop (after its start), then ends
// the dialog with IDABORT unless fn ended it; returns DoModal's result.
constexpr int IDABORT = 3;
INT_PTR runModal(CDialog& dialog, const std::function<void(CDialog&)>& fn);

// Pumps the loop until done() or about ms milliseconds.
bool pumpUntil(const std::function<bool()>& done, int ms = 3000);

} // namespace uitesting
