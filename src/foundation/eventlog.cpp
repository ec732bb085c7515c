#include "foundation/eventlog.h"

#include "foundation/propaty.h"
#include "platform/ini.h"
#include "platform/localtime.h"
#include "platform/trace.h"

#include <climits>
#include <cstdio>
#include <cstring>

QK_EVENTLOG* QK_EVENTLOG::instance = nullptr;

QK_EVENTLOG* QK_EVENTLOG::getInstance()
{
    if (!instance)
        instance = new QK_EVENTLOG();
    return instance;
}

QK_EVENTLOG::QK_EVENTLOG()
    : tag("QK_EVENTLOG"), level(3), lineCount(0), fileIndex(0), linesPerFile(2000), enabled(0)
{
    if (thePropaty) {
        const char* ini = thePropaty->iniPath.c_str();
        lineCount = static_cast<int>(GetPrivateProfileIntA("LOG", "COUNT", 0, ini));
        fileIndex = static_cast<int>(GetPrivateProfileIntA("LOG", "INDEX", 0, ini));
    } else {
        trace("QK_EVENTLOG::QK_EVENTLOG() no settings object: counters start at 0\n");
    }
}

QK_EVENTLOG::~QK_EVENTLOG()
{
    listeners.clear();
    writeLog(LOG_EV, "END ZorvaneForTcp -log close-");
}

void QK_EVENTLOG::addListener(QK_EVENTLOGLISTENER* listener) { listeners.push_back(listener); }

std::string QK_EVENTLOG::logFileName(int index)
{
    char name[32];
    std::snprintf(name, sizeof name, "LOG%d.log", index);
    return name;
}

std::string QK_EVENTLOG::logPath(int index)
{
    std::string dir = thePropaty ? thePropaty->directory : std::string(".");
    return dir + "/" + logFileName(index);
}

void QK_EVENTLOG::writeLog(int kind, const char* text)
{
    if (enabled == 0 || kind > level)
        return;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SYSTEMTIME now;
    GetLocalTime(&now);
    const char* kindText = kind == LOG_ER ? "ER" : kind == LOG_EV ? "EV" : "";
    if (!text)
        text = "";
    const char* format = "%4d/%02d/%02d %02d:%02d:%02d:%s:%s";
    int size = std::snprintf(nullptr, 0, format, now.wYear, now.wMonth, now.wDay, now.wHour,
                             now.wMinute, now.wSecond, kindText, text);
    if (size < 0)
        return;
    std::string line(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(line.data(), line.size(), format, now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, kindText, text);
    line.resize(static_cast<size_t>(size));
    appendToFile(line.c_str());
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyLogLine(line.c_str());
    writeKept();
}

void QK_EVENTLOG::writeLogWhenEnabled(int kind, const char* text)
{
    if (enabled != 0) {
        writeLog(kind, text);
        return;
    }
    if (!text)
        text = "";
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (kept.size() >= keptLimit) {
        trace("QK_EVENTLOG: line not kept: %s\n", text);
        return;
    }
    kept.push_back(KeptLine{kind, text});
}

void QK_EVENTLOG::writeKept()
{
    if (kept.empty())
        return;
    std::vector<KeptLine> lines;
    lines.swap(kept);
    for (const KeptLine& k : lines)
        writeLog(k.kind, k.text.c_str());
}

void QK_EVENTLOG::appendToFile(const char* line)
{
    std::string path = logPath(fileIndex);
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) {
        trace("LOG FILE OPEN ERROR! file=%s\n", path.c_str());
        return;
    }
    size_t length = std::strlen(line);
    bool written = std::fwrite(line, 1, length, f) == length && std::fwrite("\r\n", 1, 2, f) == 2;
    written = (std::fclose(f) == 0) && written;
    if (!written) {
        trace("LOG FILE WRITE ERROR! file=%s\n", path.c_str());
        return;
    }
    lineCount = lineCount >= linesPerFile ? linesPerFile : lineCount + 1;
    if (lineCount >= linesPerFile) {
        fileIndex = fileIndex == INT_MAX ? 0 : fileIndex + 1;
        lineCount = 0;
        if (fileIndex == 2)
            fileIndex = 0;
        std::remove(logPath(fileIndex).c_str());
    }
    if (!thePropaty)
        return;
    char number[16];
    const char* ini = thePropaty->iniPath.c_str();
    std::snprintf(number, sizeof number, "%d", fileIndex);
    WritePrivateProfileStringA("LOG", "INDEX", number, ini);
    std::snprintf(number, sizeof number, "%d", lineCount);
    WritePrivateProfileStringA("LOG", "COUNT", number, ini);
}

void QK_EVENTLOG::restore(int index)
{
    std::string path = logPath(index);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        trace("LOG FILE RESTORE OPEN ERROR! name=%s", path.c_str());
        return;
    }
    char piece[1024];
    while (std::fgets(piece, sizeof piece, f)) {
        for (size_t i = 0; i < listeners.size(); ++i)
            listeners[i]->notifyLogLine(piece);
    }
    std::fclose(f);
}
