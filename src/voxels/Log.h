#pragma once

// Diagnostics log "debug.log" in the working directory. Fatal entries close the
// log and end the process at once with exit status 1.

void LogOpen();
void LogClose();
[[noreturn]] void LogFailed(const char* message);
[[noreturn]] void LogFailedAt(const char* message, const char* file, int line);
int LogWarning(const char* message);
