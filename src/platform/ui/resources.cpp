// The program's resources: lookups, the string table, icons drawn from their
// character maps.
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"

#include <QImage>
#include <QPixmap>

#include <map>

namespace {

ResourceModule module;

struct IconObject {
    QIcon icon;
};
std::map<UINT, std::unique_ptr<IconObject>> icons; // by resource id

template <class T> const T* findId(std::span<const T> table, UINT id)
{
    for (const T& entry : table)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

QIcon drawIcon(const IconResource& resource)
{
    QImage image(resource.width, resource.height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < resource.height && y < static_cast<int>(resource.rows.size()); ++y) {
        const char* row = resource.rows[static_cast<size_t>(y)];
        for (int x = 0; row && x < resource.width && row[x]; ++x) {
            for (const IconColor& c : resource.palette) {
                if (c.key == row[x]) {
                    image.setPixelColor(x, y, afx::qcolor(c.color));
                    break;
                }
            }
        }
    }
    QIcon icon;
    QPixmap pixmap = QPixmap::fromImage(image);
    icon.addPixmap(pixmap);
    // The small icon (tray, title bar) from the same drawing.
    if (resource.width > 16)
        icon.addPixmap(pixmap.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return icon;
}

} // namespace

void AfxSetResourceModule(const ResourceModule& m)
{
    module = m;
}

const ResourceModule& AfxGetResourceModule() { return module; }

const DialogTemplate* AfxFindDialogTemplate(UINT id) { return findId(module.dialogs, id); }
const MenuResource* AfxFindMenu(UINT id) { return findId(module.menus, id); }
const IconResource* AfxFindIcon(UINT id) { return findId(module.icons, id); }
const WaveResource* AfxFindWave(UINT id) { return findId(module.waves, id); }

int LoadStringA(HINSTANCE, UINT id, char* buffer, int size)
{
    const StringResource* s = findId(module.strings, id);
    if (!buffer || size <= 0)
        return 0;
    if (!s || !s->text) {
        buffer[0] = '\0';
        return 0;
    }
    return afx::copyOut(s->text, buffer, size);
}

HICON LoadIconA(HINSTANCE, const char* name)
{
    if (!IS_INTRESOURCE(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    UINT id = static_cast<UINT>(reinterpret_cast<uintptr_t>(name));
    auto it = icons.find(id);
    if (it == icons.end()) {
        const IconResource* resource = AfxFindIcon(id);
        if (!resource || resource->width <= 0 || resource->height <= 0) {
            trace("LoadIcon: no icon %u\n", id);
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return nullptr;
        }
        it = icons.emplace(id, std::make_unique<IconObject>(IconObject{drawIcon(*resource)})).first;
    }
    return reinterpret_cast<HICON>(it->second.get());
}

BOOL DestroyIcon(HICON) { return TRUE; }

namespace afx {

QIcon iconOf(HICON icon)
{
    for (auto& [id, object] : icons)
        if (reinterpret_cast<HICON>(object.get()) == icon)
            return object->icon;
    return QIcon();
}

QColor qcolor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

QString qs(const char* text) { return QString::fromUtf8(text ? text : ""); }
QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string u8(const QString& text) { return text.toUtf8().toStdString(); }

int copyOut(const std::string& text, char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    // Do not cut a UTF-8 character: back up over continuation bytes.
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

} // namespace afx
