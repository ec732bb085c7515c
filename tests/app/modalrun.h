#pragma once
// Runs one dialog modally with a test body inside its loop. The result is
// DoModal's, or stayedOpen when the dialog was still open after the body.
#include "platform/ui/dialog.h"
#include "platform/ui/uitest.h"

#include <functional>

constexpr INT_PTR stayedOpen = 9999;

inline INT_PTR runModal(CDialog& dialog, const std::function<void()>& body)
{
    uitest::onNextModal([&](CDialog&) {
        body();
        if (!dialog.IsEnding())
            dialog.EndDialog(static_cast<int>(stayedOpen));
    });
    return dialog.DoModal();
}
