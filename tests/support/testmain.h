#pragma once
// What the shared test main (testmain.cpp) offers the tests it runs.
#include "platform/winuser.h"

#include <string>
#include <vector>

// Message boxes shown through the platform layer while the tests run; each
// is answered with IDOK.
struct ShownMessageBox {
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<ShownMessageBox>& shownMessageBoxes();
