#include "remediation/run_journal.h"

#include <cctype>

#include "logging/ansi_text.h"
#include "remediation/component_constants.h"
#include "system/small_file.h"

using namespace component_constants;

namespace {

constexpr char kTag[] = "RunJournal";
constexpr char kHeader[] = "remedion-run-journal 1";
constexpr char kSeparator = '\t';
constexpr size_t kMaxLines = 64;
constexpr size_t kMaxVersionLength = 32;
constexpr int kMaxSavedIndex = 9;

constexpr char kStaged[] = "staged";
constexpr char kMade[] = "made";
constexpr char kSavedSetupClient[] = "saved-setup-client";
constexpr char kSavedLauncher[] = "saved-launcher";
constexpr char kRemovingSetupClient[] = "removing-setup-client";
constexpr char kRemovingLauncher[] = "removing-launcher";

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(kSeparator, start);
    fields.push_back(line.substr(start, end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

bool IsKnownCompany(const std::string& company) {
  return company == kTessalyCompany || company == kQuarnelCompany;
}

bool IsVersion(const std::string& text) {
  if (text.size() > kMaxVersionLength) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return false;
  }
  return true;
}

// A braced GUID: {8-4-4-4-12} hexadecimal digits.
bool IsProductCode(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// A full local path ("C:\...") in UTF-8.
bool ReadPath(const std::string& field, std::wstring& path) {
  return Utf8ToWide(field, path) && path.size() > 3 && path[1] == L':' && path[2] == L'\\' &&
         path.find(L"\\..") == std::wstring::npos;
}

std::string Line(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& field : fields) {
    if (!line.empty()) line += kSeparator;
    line += field;
  }
  return line;
}

}  // namespace

Win32Result RunJournal::Start(const std::wstring& path, RunJournal& journal) {
  RunJournal fresh;
  fresh.path_ = path;
  fresh.text_ = std::string(kHeader) + "\n";
  const Win32Result written = WriteFileWhole(path, fresh.text_, kTag);
  if (written) journal = std::move(fresh);
  return written;
}

Win32Result RunJournal::Add(const std::string& line) {
  const std::string before = text_;
  text_ += line + "\n";
  const Win32Result written = WriteFileWhole(path_, text_, kTag);
  if (!written) text_ = before;
  return written;
}

Win32Result RunJournal::Staged(const std::wstring& path) {
  return Add(Line({kStaged, WideToUtf8(path)}));
}
Win32Result RunJournal::MadeFolder(const std::wstring& path) {
  return Add(Line({kMade, WideToUtf8(path)}));
}
Win32Result RunJournal::SavedSetupClientFolder(const SavedSetupClient& saved) {
  return Add(Line({kSavedSetupClient, std::to_string(saved.index), saved.company, saved.version}));
}
Win32Result RunJournal::SavedLauncherPackage(const SavedLauncher& saved) {
  return Add(Line({kSavedLauncher, saved.productCode, saved.version}));
}
Win32Result RunJournal::RemovingSetupClient(const std::string& company) {
  return Add(Line({kRemovingSetupClient, company}));
}
Win32Result RunJournal::RemovingLauncher() { return Add(kRemovingLauncher); }

bool ParseJournal(const std::string& text, JournalEntries& entries, std::string& why) {
  entries = JournalEntries();
  if (text.empty() || text.back() != '\n') {
    why = "it does not end with a complete line";
    return false;
  }
  size_t lines = 0;
  bool header = true;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (++lines > kMaxLines) {
      why = "it has more than " + std::to_string(kMaxLines) + " lines";
      return false;
    }
    if (header) {
      header = false;
      if (line != kHeader) {
        why = "it does not begin with \"" + std::string(kHeader) + "\"";
        return false;
      }
      continue;
    }
    const std::vector<std::string> fields = Split(line);
    const std::string& kind = fields[0];
    bool valid = false;
    if ((kind == kStaged || kind == kMade) && fields.size() == 2) {
      std::wstring path;
      valid = ReadPath(fields[1], path);
      if (valid) (kind == kStaged ? entries.staged : entries.madeFolders).push_back(path);
    } else if (kind == kSavedSetupClient && fields.size() == 4) {
      const std::string& index = fields[1];
      valid = index.size() == 1 && std::isdigit(static_cast<unsigned char>(index[0])) &&
              index[0] - '0' <= kMaxSavedIndex && IsKnownCompany(fields[2]) && IsVersion(fields[3]);
      if (valid) entries.savedSetupClients.push_back({index[0] - '0', fields[2], fields[3]});
    } else if (kind == kSavedLauncher && fields.size() == 3) {
      valid = IsProductCode(fields[1]) && IsVersion(fields[2]);
      if (valid) entries.savedLaunchers.push_back({fields[1], fields[2]});
    } else if (kind == kRemovingSetupClient && fields.size() == 2) {
      valid = IsKnownCompany(fields[1]);
      if (valid) entries.removingSetupClients.push_back(fields[1]);
    } else if (kind == kRemovingLauncher && fields.size() == 1) {
      valid = true;
      entries.removingLauncher = true;
    }
    if (!valid) {
      why = "line " + std::to_string(lines) + " is not one of a journal's";
      return false;
    }
  }
  return true;
}
