#include "app/versiontext.h"

#include "app/boundedformat.h"
#include "platform/fileapi.h"
#include "platform/winver.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
char versionText[256];
int versionCached = 0;
char modulePath[MAX_PATH];
} // namespace

const char* getVersionText()
{
    if (versionCached == 1)
        return versionText;
    std::memset(versionText, 0, sizeof versionText);
    GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(modulePath, &handle);
    if (size == 0)
        return versionText;
    std::vector<unsigned char> block(static_cast<size_t>(size) + 1);
    if (!GetFileVersionInfoA(modulePath, 0, size, block.data()))
        return versionText;
    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) ||
        length < sizeof(Translation))
        return versionText;
    Translation first;
    std::memcpy(&first, value, sizeof first);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04x%04x", first.language, first.codePage);
    char subBlock[64];
    std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%s\\%s", digits, "ProductVersion");
    // Without a ProductVersion the text stays empty and the next call tries again.
    if (!VerQueryValueA(block.data(), subBlock, &value, &length) || value == nullptr)
        return versionText;
    char product[256];
    size_t productLength = length < sizeof product ? length : sizeof product - 1;
    std::memcpy(product, value, productLength);
    product[productLength] = '\0';
    formatBounded(versionText, sizeof versionText, "Ver.:%s", product);
    versionCached = 1;
    return versionText;
}
