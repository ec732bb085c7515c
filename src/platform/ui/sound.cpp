// PlaySoundA of wave resources with Qt Multimedia.
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include <map>

namespace {

std::map<UINT, QSoundEffect*> effects; // kept for the process
QSoundEffect* playing = nullptr;
int audio = -1; // -1 not asked yet, 0 no device, 1 a device

void stopAll()
{
    if (playing)
        playing->stop();
    playing = nullptr;
}

QUrl urlOf(const char* path)
{
    QString p = afx::qs(path);
    if (p.startsWith(":/"))
        return QUrl("qrc" + p);
    return QUrl::fromLocalFile(p);
}

} // namespace

BOOL PlaySoundA(const char* sound, HMODULE, DWORD flags)
{
    afx::Seams& s = afx::seams();
    if (!sound) {
        if (s.sounds)
            s.sounds->push_back({0, flags});
        else
            stopAll();
        return TRUE;
    }
    if ((flags & SND_RESOURCE) != SND_RESOURCE || !IS_INTRESOURCE(sound)) {
        if (s.sounds)
            s.sounds->push_back({0, flags});
        return FALSE;
    }
    UINT id = static_cast<UINT>(reinterpret_cast<uintptr_t>(sound));
    const WaveResource* wave = AfxFindWave(id);
    if (s.sounds) {
        s.sounds->push_back({id, flags});
        return wave ? TRUE : FALSE;
    }
    if (!wave || !wave->path)
        return FALSE;
    if (audio < 0) {
        audio = QMediaDevices::audioOutputs().isEmpty() ? 0 : 1;
        if (!audio)
            trace("sound: no audio device, sounds are silent\n");
    }
    if (!audio)
        return TRUE;
    QSoundEffect*& effect = effects[id];
    if (!effect) {
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(urlOf(wave->path));
    }
    stopAll();
    effect->play();
    playing = effect;
    return TRUE;
}
