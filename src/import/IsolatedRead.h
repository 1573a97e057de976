#pragma once
// Runs a reader of outside files in a child process, so that no file, however
// damaged, can end or hang the caller: a reader that crashes, aborts or runs
// past its time limit is stopped and reported in one line. The child inherits
// everything the caller prepared (the checked header, the request) and sends
// back the volume, what it learnt and its notes through a pipe, and its
// progress through another.
#include <atomic>
#include <functional>
#include <string>

#include "ScalarVolume.h"

using IsolatedReader =
    std::function<bool(ScalarVolume& volume, SourceInfo& info, std::string& notes, std::string& error)>;

struct IsolationLimits {
    // Wall-clock seconds the child may take before it counts as hung.
    double seconds = 10.0;
    // Set by another thread to stop the read; the result is then false with
    // the error "cancelled".
    const std::atomic<bool>* cancel = nullptr;
    // A reader that has reported progress and then reports none for this
    // many seconds counts as hung at once, before its time limit.
    double stallSeconds = 2.0;
};

// Called by a reader in its child as it goes (each slice read, say): from
// its first call on, the read must keep reporting or it is ended as hung.
// Does nothing outside a child of ReadIsolated.
void ReportReadProgress();

bool ReadIsolated(const IsolatedReader& read, const IsolationLimits& limits, ScalarVolume& volume, SourceInfo& info,
                  std::string& notes, std::string& error);

// Seconds a read of this many input bytes may take: a few for any file, more
// for large ones at a slow disk's pace.
double ReadSeconds(uintmax_t inputBytes);
