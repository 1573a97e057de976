#pragma once
// Reads a raw dump of samples whose layout the user gives: sizes, sample type,
// byte order and a number of leading bytes to skip.
#include <string>

#include "ImportOptions.h"
#include "ScalarVolume.h"

// notes receives a warning when the file holds more bytes than the layout uses.
bool ReadRaw(const std::string& path, const RawLayout& layout, ScalarVolume& volume, SourceInfo& info,
             std::string& notes, std::string& error);
