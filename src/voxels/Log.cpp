#include "Log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
FILE* logFile = nullptr;

FILE* Target() { return logFile ? logFile : stderr; }
}  // namespace

void LogOpen()
{
    if (logFile) {
        std::fclose(logFile);
    }
    logFile = std::fopen("debug.log", "w+");
}

void LogClose()
{
    if (logFile) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}

void LogFailed(const char* message)
{
    std::fprintf(Target(), "[FAILED] %s", message);
    std::fflush(stderr);
    LogClose();
    std::_Exit(1);
}

void LogFailedAt(const char* message, const char* file, int line)
{
    std::fprintf(Target(), "[FAILED] %s [%s:%d]", message, file, line);
    std::fflush(stderr);
    LogClose();
    std::_Exit(1);
}

int LogWarning(const char* message) { return std::fprintf(Target(), "[ WARN ] %s\n", message); }
