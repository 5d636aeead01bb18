// Conversions between the narrow texts of the program (system ANSI code
// page) and the UTF-16 texts of the wide Windows calls. Every narrow path
// reaches a wide call through these, never through a library's implicit
// conversion.
#pragma once

#include <optional>
#include <string>

// Characters of `text` decoded through the ANSI code page.
std::wstring AnsiToWide(const std::string& text);

// Characters of `text` encoded in the ANSI code page, for display: a
// character without an exact counterpart becomes the code page's default
// character ('?'), never a look-alike.
std::string WideToAnsi(const std::wstring& text);

// `text` in the ANSI code page when every character has an exact
// counterpart there; nothing otherwise. A path that cannot be written in the
// code page names no file through the narrow calls: its lossy form would
// name another one, or none.
std::optional<std::string> WideToAnsiExact(const std::wstring& text);

// `text` in UTF-8, where every character has a form: for the files the
// helper keeps for itself, whatever the code page.
std::string WideToUtf8(const std::wstring& text);

// `utf8` decoded into `wide`; false (and `wide` empty) when it is not valid
// UTF-8.
bool Utf8ToWide(const std::string& utf8, std::wstring& wide);
