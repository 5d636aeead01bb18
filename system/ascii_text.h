// Comparison of texts whose expected form is plain ASCII: command-line
// option words, "True", and program file names.
#pragma once

#include <string>

// Whether `text` equals `expected` as a whole, ASCII letters compared without
// regard to case. Nothing else is folded, so no locale rule can make two
// different texts equal.
inline bool EqualsIgnoringAsciiCase(const std::string& text, const char* expected) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  size_t i = 0;
  for (; i < text.size() && expected[i] != '\0'; ++i) {
    if (fold(text[i]) != fold(expected[i])) return false;
  }
  return i == text.size() && expected[i] == '\0';
}
