#pragma once
// Programs, documents and links that a show starts: command texts split into commands, programs and
// arguments, the refusal of dangerous commands, the fall-backs when a program is not found, and running
// a child and waiting for it. Nothing goes through a shell: every program is executed with its own
// argument list, so that the refusal list means what it says.

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kiv {

inline constexpr std::string_view kProhibitedCommandText =
    "Command line contains prohibited command and will not be performed.";

// Commands separated by commas outside double quotes, each trimmed; a text without a comma is one command.
// Of a text with commas, a last piece left inside an open quote is dropped.
std::vector<std::string> SplitCommands(std::string_view text);

// The name of the program a command runs, as the refusal list compares it: lower case, without folders,
// without extension; ">" for any redirection.
std::string CommandName(std::string_view command);
bool IsCommandAllowed(std::string_view command);

// A command cut into its program and its parameters text, both trimmed; each is put in double quotes
// again when it was quoted in the command.
struct TCommandParts {
  std::string program;
  std::string parameters;
};
TCommandParts SplitProgram(std::string_view command);

// The arguments of a parameters text: separated by blanks and control characters outside double quotes,
// the quotes dropped ("" is an empty argument).
std::vector<std::string> SplitArguments(std::string_view parameters);

// A leading and a trailing double quote removed, each when the text is longer than 5 characters.
std::string UnquoteLong(std::string_view text);
// Every double quote removed.
std::string WithoutQuotes(std::string_view text);

// "http://" in front unless the text begins with "http://" or "https://" (exactly as written).
std::string WebAddress(std::string_view text);
// "mailto:" in front unless the text begins with it.
std::string MailAddress(std::string_view text);

enum class TStartResult { Started, NotFound, Failed };

// How a program or document is started; tests put their own in.
class TProcessSpawner {
public:
  virtual ~TProcessSpawner() = default;
  // A program with its arguments, or a document (or address) for the desktop to open. Relative names
  // are taken from folder, in which a program also runs; "" keeps ours.
  virtual TStartResult Open(const std::string& file, const std::vector<std::string>& arguments,
                            const std::string& folder) = 0;
  // An address (web link, mail address, document) handed whole to the desktop's opener.
  virtual TStartResult OpenAddress(const std::string& address) = 0;
};

// Starts programs with posix_spawnp and hands documents and addresses to "xdg-open" (found on PATH).
// Children are not waited for; those that ended are reaped at the next start and at destruction.
class TDesktopSpawner final : public TProcessSpawner {
public:
  ~TDesktopSpawner() override;
  TStartResult Open(const std::string& file, const std::vector<std::string>& arguments,
                    const std::string& folder) override;
  TStartResult OpenAddress(const std::string& address) override;
  // Blocks until every child started so far has ended (the program itself never waits for them).
  void WaitForChildren();

private:
  TStartResult Spawn(const std::string& file, const std::vector<std::string>& argv,
                     const std::string& folder);
  void Reap();

  std::vector<pid_t> children_; // UI thread only
};

// Runs the command texts of a show.
class TProgramLauncher {
public:
  explicit TProgramLauncher(TProcessSpawner& spawner) : spawner_(spawner) {}

  // Every command of the text, relative names taken from folder. When one command is refused, the
  // refusal box is shown and none runs: false. Programs that cannot be started are only logged.
  bool RunCommands(std::string_view text, const std::string& folder);
  // A web or mail address, handed whole to the desktop; refused as RunCommands refuses.
  bool OpenLink(std::string_view address);

private:
  void Start(const TCommandParts& parts, const std::string& folder);

  TProcessSpawner& spawner_;
};

// Starts argv[0] (a path) with the rest as arguments and waits for it, calling pump between looks every
// 10 ms; pump answers false when the program is ending, which stops the wait. True with the child's exit
// status (128 + signal when a signal ended it) once it ended; false when it could not start or the wait
// was stopped.
bool RunAndWait(const std::vector<std::string>& argv, int& exitCode, const std::function<bool()>& pump);

// The command line of the child that shows a show's start-up window: this program again with the show
// ("-exename", or "-filename" for a project file), "-startup", and "-display" when one was chosen.
std::vector<std::string> StartupWindowCommand(const std::string& program, const std::string& showName,
                                              bool isProjectFile, const std::string& display);

} // namespace kiv
