// Conversions between the narrow texts of the program (system ANSI code
// page) and the UTF-16 texts that the file-system library and the shell use.
#pragma once

#include <string>

// Characters of `text` decoded through the ANSI code page.
std::wstring AnsiToWide(const std::string& text);

// Characters of `text` encoded in the ANSI code page; a character without a
// mapping becomes the code page's default character.
std::string WideToAnsi(const std::wstring& text);
