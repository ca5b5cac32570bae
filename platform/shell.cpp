#include "shell.h"

#include <sys/stat.h>
#include <unistd.h>
#include <wx/log.h>
#include <wx/strconv.h>
#include <wx/string.h>
#include <wx/utils.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "helper_process.h"

namespace {

constexpr INT kOpened = 33;  // any result above 32 means success

HINSTANCE Result(INT code) { return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(code)); }

size_t Length(LPCWSTR text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// File names on Linux are bytes; the program's are UTF-8.
std::string ToUtf8(LPCWSTR text) {
  if (!text) return std::string();
  const wxString wide(reinterpret_cast<const char*>(text), wxMBConvUTF16(),
                      Length(text) * sizeof(WCHAR));
  return wide.utf8_string();
}

bool IsOpenVerb(LPCWSTR verb) {
  if (!verb || !*verb) return true;
  static const char16_t kOpen[] = u"open";
  size_t i = 0;
  for (; verb[i] && kOpen[i]; ++i) {
    const char16_t c = verb[i] >= u'A' && verb[i] <= u'Z' ? verb[i] - u'A' + u'a' : verb[i];
    if (c != kOpen[i]) return false;
  }
  return !verb[i] && !kOpen[i];
}

bool IsFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string CurrentFolder() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) ? std::string(path) : std::string();
}

// The absolute path of an existing file, or empty.
std::string Resolve(const std::string& name, const std::string& directory) {
  if (name.empty()) return std::string();
  if (name[0] == '/') return IsFile(name) ? name : std::string();
  std::vector<std::string> folders;
  if (!directory.empty()) {
    folders.push_back(directory[0] == '/' ? directory : CurrentFolder() + '/' + directory);
  } else {
    folders.push_back(ProgramFolder());
    folders.push_back(CurrentFolder());
  }
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const std::string path = folder + '/' + name;
    if (IsFile(path)) return path;
  }
  return std::string();
}

// The full path of a program found on $PATH, or empty.
std::string FindOnPath(const std::string& program) {
  const char* list = std::getenv("PATH");
  if (!list) return std::string();
  const std::string path(list);
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string folder = end > start ? path.substr(start, end - start) : ".";
    const std::string candidate = folder + '/' + program;
    if (IsFile(candidate) && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::string();
}

}  // namespace

HINSTANCE ShellExecuteW(HWND /*owner*/, LPCWSTR verb, LPCWSTR file, LPCWSTR /*parameters*/,
                        LPCWSTR directory, INT /*showCommand*/) {
  if (!IsOpenVerb(verb)) return Result(SE_ERR_NOASSOC);
  const std::string path = Resolve(ToUtf8(file), ToUtf8(directory));
  if (path.empty()) return Result(SE_ERR_FNF);
  const std::string viewer = FindOnPath("xdg-open");
  if (viewer.empty()) return Result(SE_ERR_NOASSOC);

  // The name goes over as bytes, one argument, with no shell to split it.
  const char* const argv[] = {viewer.c_str(), path.c_str(), nullptr};
  wxLogNull quiet;
  const long pid = wxExecute(argv, wxEXEC_ASYNC | wxEXEC_HIDE_CONSOLE);
  return Result(pid > 0 ? kOpened : SE_ERR_NOASSOC);
}
