#include "ProgramLauncher.h"

#include "CommandLine.h"
#include "ErrorBox.h"
#include "Log.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kiv {

namespace {

namespace fs = std::filesystem;

// The names refused as they are written for the system the shows were made on, then the programs that
// do the same on this one (shells and privilege changes above all: they would run anything).
constexpr std::string_view kProhibitedNames[] = {
    ">",     "at",     "attrib",  "call",  "cmd",     "command",  "copy",     "del",    "deltree",
    "erase", "for",    "format",  "fdisk", "runonce", "move",     "net",      "runas",  "net1",
    "ren",   "rename", "replace", "rmdir", "rd",      "recover",  "regedit",  "rundll", "qstart",
    "start", "sys",    "type",    "xcopy", "regsrv",  "regedt32", "regsvr32", "rcp",    "ftp",
    "tftp",  "sh",     "bash",    "dash",  "zsh",     "sudo",     "su",       "pkexec", "rm",
    "dd",    "mkfs",   "chmod",   "chown", "env",     "xargs"};

bool Blank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && Blank(text[begin]))
    ++begin;
  while (end > begin && Blank(text[end - 1]))
    --end;
  return std::string(text.substr(begin, end - begin));
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Shows name folders with "\"; here they are "/".
std::string Slashes(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// "scheme:" of at least two letters: a drive letter is one.
bool IsAddress(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

// Starts a child with default signal handling and an empty signal mask, whatever this process set up.
int SpawnChild(pid_t& pid, const std::string& file, const std::vector<std::string>& argv,
               const std::string& folder) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int error = posix_spawnp(&pid, file.c_str(), &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

// A relative name that names a file in the show's folder means that file: shows are made to run beside
// their programs, whatever folder this program was started in.
std::string InFolder(const std::string& program, const std::string& folder) {
  if (folder.empty() || IsAddress(program)) return program;
  const fs::path name(Slashes(program));
  std::error_code ec;
  if (name.is_absolute() || !fs::exists(fs::path(folder) / name, ec)) return program;
  return (fs::path(folder) / name).string();
}

} // namespace

std::vector<std::string> SplitCommands(std::string_view text) {
  if (text.find(',') == std::string_view::npos) return {std::string(text)};
  std::vector<std::string> commands;
  std::string piece;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      commands.push_back(Trim(piece));
      piece.clear();
    } else {
      piece += c;
    }
  }
  // The text ends as if with one more comma: what an unbalanced quote leaves open is no command.
  if (!quoted) commands.push_back(Trim(piece));
  return commands;
}

std::string CommandName(std::string_view command) {
  if (command.find('>') != std::string_view::npos) return ">";
  std::string text;
  bool quoted = false;
  for (char c : command) {
    if (c == '"') quoted = !quoted;
    if (quoted && (c == ' ' || c == '\t')) c = '_';
    if (c == '@' || c == '"' || c == '|') continue;
    text += c;
  }
  size_t begin = 0;
  while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
    ++begin;
  size_t end = begin;
  while (end < text.size() && text[end] != ' ' && text[end] != '\t')
    ++end;
  std::string name = text.substr(begin, end - begin);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (name.empty()) return name;
  if (const size_t slash = name.rfind('\\'); slash != std::string::npos) name.erase(0, slash + 1);
  if (const size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
  if (const size_t dot = name.find('.'); dot != std::string::npos) name.erase(dot);
  return name;
}

bool IsCommandAllowed(std::string_view command) {
  const std::string name = CommandName(command);
  return std::find(std::begin(kProhibitedNames), std::end(kProhibitedNames), name) ==
         std::end(kProhibitedNames);
}

TCommandParts SplitProgram(std::string_view command) {
  const bool programQuoted = !command.empty() && command.front() == '"';
  std::string program, parameters;
  bool parametersQuoted = false;
  size_t i = 0;
  // The program ends at the quote that closes it, or at the first blank when it is not quoted.
  for (; i < command.size(); ++i) {
    const char c = command[i];
    if (programQuoted ? (c == '"' && i > 0) : c == ' ') {
      ++i;
      break;
    }
    if (c != '"') program += c;
  }
  for (; i < command.size(); ++i) {
    if (command[i] == '"')
      parametersQuoted = true;
    else
      parameters += command[i];
  }
  TCommandParts parts{Trim(program), Trim(parameters)};
  if (programQuoted) parts.program = Quoted(parts.program);
  if (parametersQuoted) parts.parameters = Quoted(parts.parameters);
  return parts;
}

std::vector<std::string> SplitArguments(std::string_view parameters) {
  return TokenizeCommandLine(parameters);
}

std::string UnquoteLong(std::string_view text) {
  std::string out(text);
  if (out.size() > 5 && out.front() == '"') out.erase(0, 1);
  if (out.size() > 5 && out.back() == '"') out.pop_back();
  return out;
}

std::string WithoutQuotes(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != '"') out += c;
  return out;
}

std::string WebAddress(std::string_view text) {
  if (text.starts_with("http://") || text.starts_with("https://")) return std::string(text);
  return "http://" + std::string(text);
}

std::string MailAddress(std::string_view text) {
  if (text.starts_with("mailto:")) return std::string(text);
  return "mailto:" + std::string(text);
}

// --- the desktop ---

TDesktopSpawner::~TDesktopSpawner() {
  Reap();
}

void TDesktopSpawner::WaitForChildren() {
  for (pid_t pid : children_)
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  children_.clear();
}

void TDesktopSpawner::Reap() {
  std::erase_if(children_, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

TStartResult TDesktopSpawner::Spawn(const std::string& file, const std::vector<std::string>& argv,
                                    const std::string& folder) {
  Reap();
  pid_t pid = -1;
  const int error = SpawnChild(pid, file, argv, folder);
  if (error == ENOENT || error == ENOTDIR) return TStartResult::NotFound;
  if (error != 0) {
    LogLine("run program: cannot start \"" + file + "\": " + std::strerror(error));
    return TStartResult::Failed;
  }
  children_.push_back(pid);
  return TStartResult::Started;
}

TStartResult TDesktopSpawner::OpenAddress(const std::string& address) {
  const TStartResult result = Spawn("xdg-open", {"xdg-open", address}, "");
  if (result != TStartResult::Started) LogLine("open: xdg-open is not there to open \"" + address + "\"");
  return result;
}

TStartResult TDesktopSpawner::Open(const std::string& file, const std::vector<std::string>& arguments,
                                   const std::string& folder) {
  if (file.empty()) return TStartResult::NotFound;
  if (IsAddress(file)) return OpenAddress(file);
  const std::string name = Slashes(file);
  std::error_code ec;
  fs::path path;
  if (name.find('/') != std::string::npos) {
    path = fs::path(name).is_relative() && !folder.empty() ? fs::path(folder) / name : fs::path(name);
  } else if (!folder.empty() && fs::exists(fs::path(folder) / name, ec)) {
    path = fs::path(folder) / name;
  }
  std::vector<std::string> argv{name};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  // A bare name not beside us is a program on PATH.
  if (path.empty()) return Spawn(name, argv, folder);
  path = fs::absolute(path, ec);
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return TStartResult::NotFound;
  // Documents and folders open in what the desktop chooses for them.
  if (!S_ISREG(info.st_mode) || access(path.c_str(), X_OK) != 0) return OpenAddress(path.string());
  return Spawn(path.string(), argv, folder);
}

// --- commands ---

bool TProgramLauncher::RunCommands(std::string_view text, const std::string& folder) {
  if (text.empty()) return true;
  const std::vector<std::string> commands = SplitCommands(text);
  for (const std::string& command : commands)
    if (!IsCommandAllowed(command)) {
      LogLine("run program: refused \"" + std::string(text) + "\" (" + CommandName(command) + ")");
      NoticeBox("", kProhibitedCommandText);
      return false;
    }
  for (const std::string& command : commands)
    Start(SplitProgram(command), folder);
  return true;
}

bool TProgramLauncher::OpenLink(std::string_view address) {
  for (const std::string& command : SplitCommands(address))
    if (!IsCommandAllowed(command)) {
      LogLine("open: refused \"" + std::string(address) + "\" (" + CommandName(command) + ")");
      NoticeBox("", kProhibitedCommandText);
      return false;
    }
  spawner_.OpenAddress(std::string(address));
  return true;
}

void TProgramLauncher::Start(const TCommandParts& parts, const std::string& folder) {
  const std::string program = WithoutQuotes(parts.program);
  if (Trim(program).empty()) return;
  const bool withParameters = !parts.parameters.empty();
  TStartResult result = spawner_.Open(InFolder(program, folder), SplitArguments(parts.parameters), "");
  // An address that nothing opens is no file name to look for elsewhere.
  if (result != TStartResult::NotFound || IsAddress(program)) return;
  if (withParameters) {
    result = spawner_.Open(WithoutQuotes(UnquoteLong(parts.program)),
                           SplitArguments(UnquoteLong(parts.parameters)), "");
  } else {
    const std::string bare = Slashes(program);
    const size_t slash = bare.rfind('/');
    result = spawner_.Open(slash == std::string::npos ? bare : bare.substr(slash + 1), {}, folder);
    if (result == TStartResult::NotFound && !folder.empty()) {
      std::string base = folder;
      if (base.size() > 3 && (base.back() == '/' || base.back() == '\\')) base.pop_back();
      result = spawner_.Open(base + "/" + bare, {}, "");
    }
  }
  if (result == TStartResult::NotFound) LogLine("run program: \"" + program + "\" not found");
}

// --- waiting ---

bool RunAndWait(const std::vector<std::string>& argv, int& exitCode, const std::function<bool()>& pump) {
  exitCode = -1;
  if (argv.empty()) return false;
  pid_t pid = -1;
  if (SpawnChild(pid, argv.front(), argv, "") != 0) return false;
  for (;;) {
    if (pump && !pump()) return false;
    int status = 0;
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) {
      exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    if (ended != 0 && errno != EINTR) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<std::string> StartupWindowCommand(const std::string& program, const std::string& showName,
                                              bool isProjectFile, const std::string& display) {
  std::error_code ec;
  std::string show = fs::absolute(Slashes(showName), ec).string();
  if (ec) show = showName;
  std::vector<std::string> argv{program, isProjectFile ? "-filename" : "-exename", show, "-startup"};
  if (!display.empty()) {
    argv.push_back("-display");
    argv.push_back(display);
  }
  return argv;
}

} // namespace kiv
