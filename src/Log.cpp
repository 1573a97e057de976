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

int NextPowerOfTwo(uint32_t n)
{
    // Shifting instead of 2^ceil(log n / log 2) keeps exact powers of two exact.
    uint32_t p = 1;
    while (p < n && p < (1u << 31)) {
        p <<= 1;
    }
    return static_cast<int>(p);
}
