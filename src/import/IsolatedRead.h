#pragma once
// Runs a reader of outside files in a child process, so that no file, however
// damaged, can end or hang the caller: a reader that crashes, aborts or runs
// past its time limit is stopped and reported in one line. The child inherits
// everything the caller prepared (the checked header, the request) and sends
// back the volume, what it learnt and its notes through a pipe.
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
};

bool ReadIsolated(const IsolatedReader& read, const IsolationLimits& limits, ScalarVolume& volume, SourceInfo& info,
                  std::string& notes, std::string& error);

// Seconds a read of this many input bytes may take: a few for any file, more
// for large ones at a slow disk's pace.
double ReadSeconds(uintmax_t inputBytes);
