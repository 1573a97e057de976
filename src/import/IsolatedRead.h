#pragma once
// Runs a reader of outside files in a process of its own, started afresh
// from the reader program (never a copy of the caller, whose threads and
// locks a copy would inherit half-held), so that no file, however damaged,
// can end or hang the caller: a reader that crashes, aborts, stops making
// progress or runs past its time limit is stopped and reported in one line.
// The program sends back the volume, what it learnt and its notes through
// one pipe, and its progress through another (ReaderChannel.h).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ScalarVolume.h"

struct IsolationLimits {
    // Wall-clock seconds the reader may take before it counts as hung.
    double seconds = 10.0;
    // Set by another thread to stop the read; the result is then false with
    // the error "cancelled".
    const std::atomic<bool>* cancel = nullptr;
    // A reader that has reported progress and then reports none for this
    // many seconds counts as hung at once, before its time limit.
    double stallSeconds = 2.0;
    // The program to start; empty: the reader program (ReaderProgram).
    std::string program;
};

// arguments: what the program is asked to read, after its name.
bool ReadIsolated(const std::vector<std::string>& arguments, const IsolationLimits& limits, ScalarVolume& volume,
                  SourceInfo& info, std::string& notes, std::string& error);

// The reader program volren-reader: beside the running program (a build) or
// in ../libexec/volren/ (an installation); empty where it is neither.
std::string ReaderProgram();

// Seconds a read of this many input bytes may take: a few for any file, more
// for large ones at a slow disk's pace.
double ReadSeconds(uintmax_t inputBytes);
