// ShellExecuteA: addresses and files handed to the desktop.
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"

#include <QDesktopServices>
#include <QUrl>

HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char*, const char*, int)
{
    auto result = [](intptr_t v) { return reinterpret_cast<HINSTANCE>(v); };
    if (!file || !*file)
        return result(ERROR_FILE_NOT_FOUND);
    afx::Seams& s = afx::seams();
    if (s.shell) {
        s.shell->push_back({owner, operation ? operation : "", file});
        return result(42);
    }
    if (operation && *operation && std::string(operation) != "open") {
        trace("ShellExecute: \"%s\" is not supported\n", operation);
        return result(SE_ERR_NOASSOC);
    }
    QString text = afx::qs(file);
    QUrl url = text.contains("://") || text.startsWith("mailto:") ? QUrl(text) : QUrl::fromLocalFile(text);
    if (!url.isValid() || !QDesktopServices::openUrl(url))
        return result(SE_ERR_NOASSOC);
    return result(42);
}
