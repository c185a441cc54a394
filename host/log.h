// The host's system log: entries of a type with their formatted text.
#pragma once

#include "host/maxtypes.h"

constexpr DWORD SYSLOG_ERROR = 0x00000001;
constexpr DWORD SYSLOG_WARN = 0x00000002;
constexpr DWORD SYSLOG_INFO = 0x00000004;
constexpr DWORD SYSLOG_DEBUG = 0x00000008;

class LogSys {
public:
    virtual ~LogSys() = default;
    // Appends one entry of the type with the printf-style formatted text.
    // No dialog is ever shown, so dialogue is ignored; title is kept with the
    // entry. A type naming none of the four kinds, or a null format, logs
    // nothing; a type naming several is taken as the most severe.
    virtual void LogEntry(DWORD type, BOOL dialogue, const MCHAR* title, const MCHAR* format, ...)
        __attribute__((format(printf, 5, 6)));
};
