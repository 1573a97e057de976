#pragma once
// The whole import: read the input, choose the value rule, resample to the
// output grid and write the .dat file, telling each step on out. On failure
// it returns false with one line in error naming the file and the cause, and
// no output file exists.
#include <cstdio>
#include <string>

#include "ImportOptions.h"

bool Import(const ImportOptions& options, std::FILE* out, std::string& error);
