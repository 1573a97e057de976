#pragma once
// The reader program's side of a read: it was started by ReadIsolated with
// the write ends of two pipes as file descriptors 3 (the result) and 4 (its
// progress), and tells the caller what it read through them.
#include <string>

#include "ScalarVolume.h"

constexpr int readerResultDescriptor = 3;
constexpr int readerProgressDescriptor = 4;
// A memory file for densities, where the caller gave one.
constexpr int readerDensityDescriptor = 5;

// Called once at the reader program's start: from then on progress and the
// result go to the caller, and a crash ends the program with its signal.
// Outside that program progress and the result go nowhere.
void OpenReaderChannel();

// The memory file to create densities in (DensityBlock::Create), so that
// they reach the caller without a copy; -1 where there is none.
int ReaderDensityFile();

// Called by a reader as it goes (each slice read, say): from its first call
// on, the read must keep reporting or it is ended as hung.
void ReportReadProgress();

// Sends the outcome: on success the volume's densities, where it has them,
// else its samples. false where the caller is gone.
bool SendReadResult(bool ok, const ScalarVolume& volume, const SourceInfo& info, const std::string& notes,
                    const std::string& error);
