// Text from outside (file names, library messages) made safe to print on a
// terminal or in a log: control bytes never reach it as they are.
#pragma once

#include <string>

/// Name as it is when it holds no blank, '"', '\' or control character;
/// otherwise in double quotes, with '"' and '\' escaped by a backslash and
/// every control character (bytes below 0x20, 0x7f, and U+0080 to U+009F in
/// UTF-8) as \xNN. So a plain name reads as before ("site/a.html:3:1: ...")
/// and any other can be neither mistaken nor used to steer the terminal.
/// Other bytes of 0x80 and above pass (UTF-8 names stay readable).
std::string VekQuoteName(const std::string& Name);

/// Text with every control character (as VekQuoteName, but tab) written as
/// \xNN; other bytes unchanged. For messages that may hold a name, such as
/// a library's.
std::string VekTerminalText(const std::string& Text);

/// As VekTerminalText, but line breaks kept: for a message of several lines
/// (a template's faults, one a line).
std::string VekTerminalLines(const std::string& Text);
