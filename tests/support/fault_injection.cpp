#include "tests/support/fault_injection.h"

#include <utility>

#include "logging/ansi_text.h"
#include "system/ascii_text.h"
#include "tests/support/test_support.h"

namespace test_support {

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kRemoveLimitMs = 10000;

// Wine's own export that names the Unix file behind a Windows path.
using UnixFileName = char*(__cdecl*)(const wchar_t*);

std::string UnixPathOf(const std::string& path) {
  const auto convert = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return {};
  char* unix = convert(AnsiToWide(path).c_str());
  if (unix == nullptr) return {};
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         EqualsIgnoringAsciiCase(text.substr(text.size() - end.size()).c_str(), end.c_str());
}

}  // namespace

std::vector<std::string> FilesNamed(const std::string& folder, const std::string& prefix,
                                    const std::string& suffix) {
  std::vector<std::string> files;
  WIN32_FIND_DATAA entry = {};
  const HANDLE find = FindFirstFileA((folder + "\\" + prefix + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    const std::string name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        EndsWithIgnoringCase(name, suffix)) {
      files.push_back(folder + "\\" + name);
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return files;
}

bool TakeAwayFile(const std::string& path) {
  const std::string unix = UnixPathOf(path);
  if (unix.empty() || unix.find('"') != std::string::npos) return false;
  // Wine starts a Unix program named by its Unix path, its arguments split
  // as a Windows command line's.
  const ChildResult removal = RunChild("/bin/rm -f \"" + unix + "\"", {}, kRemoveLimitMs);
  return removal.finished && GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

Trigger::Trigger(std::function<bool()> condition, std::function<void()> action, DWORD limitMs)
    : watcher_([this, condition = std::move(condition), action = std::move(action), limitMs] {
        for (DWORD waited = 0; !stop_.load() && waited < limitMs; waited += kPollMs) {
          if (condition()) {
            action();
            fired_.store(true);
            return;
          }
          Sleep(kPollMs);
        }
      }) {}

Trigger::~Trigger() {
  stop_.store(true);
  watcher_.join();
}

}  // namespace test_support
