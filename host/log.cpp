// The system log: entries go to the current scene, in order, and are dropped
// with it.
#include "host/log.h"

#include <cstdarg>
#include <cstdio>

#include "host/scene.h"

void LogSys::LogEntry(DWORD type, BOOL dialogue, const MCHAR* title, const MCHAR* format, ...)
{
    (void)dialogue;
    DWORD kind = 0;
    for (DWORD bit : {SYSLOG_ERROR, SYSLOG_WARN, SYSLOG_INFO, SYSLOG_DEBUG}) {
        if (type & bit) {
            kind = bit;
            break;
        }
    }
    if (kind == 0 || format == nullptr) return;

    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        // vsnprintf writes the terminating NUL into the string's own spare byte.
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    currentScene().log.push_back(LogRecord{kind, title ? title : "", std::move(text)});
}
