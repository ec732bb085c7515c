#pragma once
// The event log: time-stamped lines appended to two alternating files in the
// program's directory ("LOG0.log", "LOG1.log"), counted in section "LOG" of
// the settings file and handed to the listeners.
#include <mutex>
#include <string>
#include <vector>

// Kind of a log line: LOG_ER is printed "ER", LOG_EV "EV"; any other kind up
// to the level is printed as an empty kind text, one above it is dropped.
enum LogKind : int { LOG_ER = 0, LOG_EV = 2 };

class QK_EVENTLOGLISTENER {
public:
    // One log line, valid only during the call.
    virtual void notifyLogLine(const char* line) = 0;
    // Virtual so that implementers build cleanly with -Wnon-virtual-dtor; the
    // log never deletes a listener.
    virtual ~QK_EVENTLOGLISTENER() = default;
};

class QK_EVENTLOG {
public:
    // The process-wide log, created on the first call. Whoever deletes it
    // (the communication hub) sets instance back to null.
    static QK_EVENTLOG* getInstance();
    static QK_EVENTLOG* instance;

    QK_EVENTLOG();
    ~QK_EVENTLOG();
    QK_EVENTLOG(const QK_EVENTLOG&) = delete;
    QK_EVENTLOG& operator=(const QK_EVENTLOG&) = delete;

    void addListener(QK_EVENTLOGLISTENER* listener);
    // Formats "%4d/%02d/%02d %02d:%02d:%02d:%s:%s", stores it with CR LF in the
    // current file, updates INDEX and COUNT, and hands it (without line end)
    // to every listener, all under the mutex. Dropped while not enabled.
    void writeLog(int kind, const char* text);
    // Like writeLog, but a line that comes while the log is not yet enabled
    // (settings are loaded before the log is switched on) is kept and
    // written right after the next line that writeLog stores. At most
    // keptLimit lines wait; later ones are only traced.
    void writeLogWhenEnabled(int kind, const char* text);
    // Hands file number index to the listeners in pieces of at most 1023
    // bytes, each ending after a line end or at that limit.
    void restore(int index);

    void appendToFile(const char* line);
    std::string logFileName(int index);

    char tag[12];
    std::recursive_mutex mutex; // re-entrant, like the platform's mutex objects
    std::vector<QK_EVENTLOGLISTENER*> listeners;
    int level;
    int lineCount;
    int fileIndex;
    int linesPerFile;
    int enabled;

private:
    struct KeptLine {
        int kind;
        std::string text;
    };
    static constexpr size_t keptLimit = 32;

    std::string logPath(int index);
    void writeKept();

    std::vector<KeptLine> kept;
};
