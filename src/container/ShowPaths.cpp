#include "ShowPaths.h"

#include "CaseFolding.h"
#include "Log.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace kiv {
namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

size_t LastSeparator(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i - 1;
  return std::string_view::npos;
}

std::mutex& ProgramLock() {
  static std::mutex lock;
  return lock;
}
std::string& ProgramOverride() {
  static std::string path;
  return path;
}

std::string UserDataFolder() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return IncludeTrailingSlash(xdg);
  if (const char* home = std::getenv("HOME"); home && *home)
    return IncludeTrailingSlash(home) + ".local/share/";
  return {};
}

} // namespace

std::string ToLocalPath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool HasDriveLetter(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string ExtractFileName(std::string_view path) {
  const size_t at = LastSeparator(path);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

std::string ExtractFilePath(std::string_view path) {
  const size_t at = LastSeparator(path);
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string ExtractFileDir(std::string_view path) {
  std::string folder = ExtractFilePath(path);
  if (folder.size() > 1) folder.pop_back();
  return folder;
}

std::string ExtractFileExt(std::string_view path) {
  const std::string name = ExtractFileName(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const size_t nameStart = LastSeparator(path) == std::string_view::npos ? 0 : LastSeparator(path) + 1;
  const size_t dot = path.rfind('.');
  std::string result(path.substr(0, dot != std::string_view::npos && dot >= nameStart ? dot : path.size()));
  return result.append(ext);
}

std::string IncludeTrailingSlash(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

std::string ExpandFileName(std::string_view folder, std::string_view name) {
  namespace fs = std::filesystem;
  const std::string local = ToLocalPath(name);
  fs::path path = (!local.empty() && local.front() == '/') || folder.empty()
                      ? fs::path(local)
                      : fs::path(ToLocalPath(folder)) / local;
  return path.lexically_normal().string();
}

std::string ExpandRelativeName(std::string_view folder, std::string_view name) {
  const std::string local = ToLocalPath(name);
  if (local.empty() || local.front() == '/' || HasDriveLetter(local)) return std::string(name);
  return ExpandFileName(folder, local);
}

bool FileExists(const std::string& path) {
  struct stat info;
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat info;
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FindPathIgnoringCase(const std::string& path) {
  struct stat info;
  if (path.empty()) return {};
  if (::stat(path.c_str(), &info) == 0) return path;
  const bool absolute = path.front() == '/';
  std::string found = absolute ? "/" : "";
  size_t pos = absolute ? 1 : 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    const std::string exact = found + part;
    if (part == "." || part == ".." || ::lstat(exact.c_str(), &info) == 0) {
      found = exact + (end < path.size() ? "/" : "");
      continue;
    }
    DIR* dir = ::opendir(found.empty() ? "." : found.c_str());
    if (!dir) return {};
    const std::u16string wanted = Utf8ToUtf16(part);
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(dir))
      if (SameText(Utf8ToUtf16(entry->d_name), wanted)) matches.emplace_back(entry->d_name);
    ::closedir(dir);
    if (matches.empty()) return {};
    std::sort(matches.begin(), matches.end());
    found += matches.front() + (end < path.size() ? "/" : "");
  }
  return ::stat(found.c_str(), &info) == 0 ? found : std::string();
}

std::string ProgramFileName() {
  {
    std::lock_guard lock(ProgramLock());
    if (!ProgramOverride().empty()) return ProgramOverride();
  }
  return ProgramPath();
}

std::string ProgramFolder() {
  return ExtractFilePath(ProgramFileName());
}

void SetProgramFileName(std::string path) {
  std::lock_guard lock(ProgramLock());
  ProgramOverride() = std::move(path);
}

std::string ExpandPathMacros(std::string_view name) {
  std::string result;
  size_t pos = 0;
  while (pos < name.size()) {
    const size_t open = name.find('%', pos);
    const size_t close = open == std::string_view::npos ? open : name.find('%', open + 1);
    if (close == std::string_view::npos) break;
    result.append(name.substr(pos, open - pos));
    const std::string_view part = name.substr(open, close - open + 1);
    if (SameText(Utf8ToUtf16(part), u"%styles%")) {
      const std::string rest = ToLocalPath(name.substr(close + 1));
      const std::string themes = result + ProgramFolder() + "All/Themes";
      if (FileExists(themes + rest) || FindPathIgnoringCase(themes + rest).size() || UserDataFolder().empty())
        result = themes;
      else
        result += UserDataFolder() + "Brask/Styles";
    } else {
      result.append(part);
    }
    pos = close + 1;
  }
  if (pos < name.size()) result.append(name.substr(pos));
  return result;
}

} // namespace kiv
