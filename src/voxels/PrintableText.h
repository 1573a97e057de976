#pragma once

#include <string>

// Text from a file or a file name made safe to show on one line of a
// terminal or a message box: control characters (C0, DEL and C1) and bytes
// that are not UTF-8 become \xHH, so a crafted file can neither split a
// message into lines nor send escape sequences. Printable text, UTF-8
// included, stays as it is, so the result passes through unchanged again.
std::string PrintableText(const std::string& text);
