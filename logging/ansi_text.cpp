#include "logging/ansi_text.h"

#include <windows.h>

namespace {

// Best-fit mapping turns letters the code page lacks into look-alikes ("Ł"
// into "L" under 1252), which name other files. UTF-8 as the ANSI code page
// (a Windows 10 option) holds every character, and WideCharToMultiByte
// refuses these flags and the default-character query for it.
bool AnsiIsUtf8() { return GetACP() == CP_UTF8; }

DWORD StrictFlags() { return AnsiIsUtf8() ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS; }

// Converts with the given flags; `usedDefault`, when given, tells whether a
// character had no counterpart.
std::string Encode(const std::wstring& text, DWORD flags, BOOL* usedDefault) {
  const int wideLength = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_ACP, flags, text.data(), wideLength, nullptr, 0, nullptr, usedDefault);
  if (length <= 0) return {};
  std::string narrow(static_cast<size_t>(length), '\0');
  // The second call converts the same text; should it still fail, nothing
  // half-converted is handed on.
  if (WideCharToMultiByte(CP_ACP, flags, text.data(), wideLength, narrow.data(), length, nullptr,
                          usedDefault) != length) {
    return {};
  }
  return narrow;
}

}  // namespace

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length) != length) {
    return {};
  }
  return wide;
}

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty()) return {};
  return Encode(text, AnsiIsUtf8() ? 0 : WC_NO_BEST_FIT_CHARS, nullptr);
}

std::optional<std::string> WideToAnsiExact(const std::wstring& text) {
  if (text.empty()) return std::string();
  BOOL usedDefault = FALSE;
  const bool utf8 = AnsiIsUtf8();
  std::string narrow = Encode(text, StrictFlags(), utf8 ? nullptr : &usedDefault);
  if (narrow.empty() || usedDefault) return std::nullopt;
  return narrow;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int wideLength = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, utf8.data(), length, nullptr,
                          nullptr) != length) {
    return {};
  }
  return utf8;
}

bool Utf8ToWide(const std::string& utf8, std::wstring& wide) {
  wide.clear();
  if (utf8.empty()) return true;
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<size_t>(length));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          wide.data(), length) != length) {
    wide.clear();
    return false;
  }
  return true;
}
