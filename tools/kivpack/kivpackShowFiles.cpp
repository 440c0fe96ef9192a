// kivpack create and extract: between project folders on disk and packed shows.

#include "kivpackShow.h"

#include "IniDocument.h"
#include "PackedShowWriter.h"
#include "StreamViews.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace kivpack {

using namespace kiv;

namespace {

// Options of the form "-o VALUE"; everything else is positional. False on an unknown option.
bool ParseArgs(const TArgs& args, const std::vector<std::string>& valued,
               std::vector<std::string>& positional,
               std::vector<std::pair<std::string, std::string>>& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 1 && a[0] == '-') {
      if (std::find(valued.begin(), valued.end(), a) == valued.end() || i + 1 >= args.size()) return false;
      options.emplace_back(a, args[++i]);
    } else {
      positional.push_back(a);
    }
  }
  return true;
}

std::string Option(const std::vector<std::pair<std::string, std::string>>& options, const std::string& name,
                   const std::string& fallback = "") {
  std::string value = fallback;
  for (const auto& [key, v] : options)
    if (key == name) value = v;
  return value;
}

struct TSourceFile {
  std::string name; // relative path with backslashes, UTF-8
  fs::path path;
};

// Every regular file below dir, Project.kiv first, the rest in byte order of their names, so that the same
// folder always packs to the same show.
std::vector<TSourceFile> ProjectFiles(const fs::path& dir, const fs::path& skip) {
  std::vector<TSourceFile> files;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::error_code ec;
    if (!skip.empty() && fs::equivalent(e.path(), skip, ec)) continue;
    std::string name;
    for (const fs::path& part : fs::relative(e.path(), dir)) {
      if (!name.empty()) name += '\\';
      name += part.string();
    }
    files.push_back({name, e.path()});
  }
  std::sort(files.begin(), files.end(), [](const TSourceFile& a, const TSourceFile& b) {
    const bool aProject = a.name == "Project.kiv", bProject = b.name == "Project.kiv";
    return aProject != bProject ? aProject : a.name < b.name;
  });
  return files;
}

void AddFile(TKivPacker& packer, const std::string& name, const fs::path& path, uint8_t method) {
  TFileStream file(path.string(), TFileMode::OpenRead);
  packer.Add(Utf8ToUtf16(name), file, file.GetSize(), method);
}

} // namespace

int RunCreate(const TArgs& args) {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  if (!ParseArgs(args, {"-o", "--prefix", "--form", "--method"}, positional, options) ||
      positional.size() != 1 || Option(options, "-o").empty()) {
    std::fputs("usage: kivpack create DIR -o OUT [--prefix FILE] [--form A|B] [--method 0|1|2]\n", stderr);
    return kExitUsage;
  }
  const std::string form = Option(options, "--form", "A");
  const std::string method = Option(options, "--method", "2");
  if ((form != "A" && form != "B") || (method != "0" && method != "1" && method != "2")) {
    std::fputs("kivpack create: --form takes A or B, --method 0, 1 or 2\n", stderr);
    return kExitUsage;
  }
  const fs::path dir = positional[0];
  const fs::path out = Option(options, "-o");
  const std::string prefix = Option(options, "--prefix");
  if (!fs::is_regular_file(dir / "Project.kiv")) {
    std::fprintf(stderr, "kivpack create: no Project.kiv in \"%s\"\n", dir.c_str());
    return kExitFailure;
  }

  // Written beside the target and renamed over it only when complete: a failed run leaves no half show.
  std::string temp = out.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    std::fprintf(stderr, "kivpack create: cannot create \"%s\": %s\n", temp.c_str(), std::strerror(errno));
    return kExitFailure;
  }
  ::close(fd);
  try {
    std::error_code ec;
    const fs::path skip = fs::exists(out, ec) ? out : fs::path();
    {
      TFileStream file(temp, TFileMode::Create);
      TKivPacker packer(file);
      if (!prefix.empty()) AddFile(packer, fs::path(prefix).filename().string(), prefix, 0);
      for (const TSourceFile& f : ProjectFiles(dir, skip)) {
        if (f.path.filename() == fs::path(temp).filename()) continue;
        AddFile(packer, f.name, f.path, f.name == "Project.kiv" ? 1 : static_cast<uint8_t>(method[0] - '0'));
      }
      // The container carries the version of what built the show, as the project names it; a player
      // opening one show from another compares the two.
      TIniFile project;
      std::u16string version(kKivPackVersion);
      if (project.LoadFromFile((dir / "Project.kiv").string())) {
        const std::u16string named = project.ReadString(u"Main", u"KivVersion", u"");
        if (!named.empty()) version = named;
      }
      packer.Finish(form == "B" ? TTrailerForm::B : TTrailerForm::A, version);
      if (!file.Sync()) throw Exception("cannot write \"" + temp + "\"");
    }
    // A show behind the player program is itself a program.
    ::chmod(temp.c_str(), prefix.empty() ? 0644 : 0755);
    if (::rename(temp.c_str(), out.c_str()) != 0)
      throw Exception("cannot rename to \"" + out.string() + "\": " + std::strerror(errno));
  } catch (const std::exception& e) {
    ::unlink(temp.c_str());
    std::fprintf(stderr, "kivpack create: %s\n", e.what());
    return kExitFailure;
  }
  return kExitOk;
}

namespace {

// The parts of a stored name that may be written below the target folder: no drive letter, no "." or "..",
// no empty parts (leading separators), control characters replaced.
std::vector<std::string> SafeParts(const std::string& name) {
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    const bool drive = parts.empty() && part.size() == 2 && part[1] == ':';
    if (!part.empty() && part != "." && part != ".." && !drive) parts.push_back(part);
    part.clear();
  };
  for (char c : name) {
    if (c == '\\' || c == '/')
      flush();
    else
      part += static_cast<unsigned char>(c) < 0x20 ? '_' : c;
  }
  flush();
  return parts;
}

class TFd {
public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(TFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TFd& operator=(TFd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int Get() const { return fd_; }

private:
  int fd_;
};

// Creates parts below root and returns a fresh file for the last one. Folders are entered with O_NOFOLLOW
// and the file is created anew (an existing link or file of that name is removed first), so that no link
// below root can lead the write elsewhere.
TFd CreateBelow(int root, const std::vector<std::string>& parts) {
  TFd dir(::dup(root));
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (::mkdirat(dir.Get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST)
      throw Exception("cannot create folder \"" + parts[i] + "\": " + std::strerror(errno));
    TFd next(::openat(dir.Get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.Get() < 0) throw Exception("cannot enter folder \"" + parts[i] + "\": " + std::strerror(errno));
    dir = std::move(next);
  }
  const char* leaf = parts.back().c_str();
  if (::unlinkat(dir.Get(), leaf, 0) != 0 && errno != ENOENT)
    throw Exception("cannot replace \"" + parts.back() + "\": " + std::strerror(errno));
  TFd file(::openat(dir.Get(), leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (file.Get() < 0) throw Exception("cannot create \"" + parts.back() + "\": " + std::strerror(errno));
  return file;
}

void WriteAll(int fd, TStream& stream) {
  std::vector<uint8_t> buffer(1 << 16);
  for (int64_t n; (n = stream.Read(buffer.data(), static_cast<int64_t>(buffer.size()))) > 0;) {
    for (int64_t done = 0; done < n;) {
      const ssize_t w = ::write(fd, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) throw Exception(std::string("write failed: ") + std::strerror(errno));
      done += w;
    }
  }
}

} // namespace

int RunExtract(const TArgs& args) {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  if (!ParseArgs(args, {"-o"}, positional, options) || positional.size() != 1 ||
      Option(options, "-o").empty()) {
    std::fputs("usage: kivpack extract SHOW -o DIR\n", stderr);
    return kExitUsage;
  }
  auto unpack = OpenShow("extract", positional[0]);
  if (!unpack) return kExitFailure;
  const std::string target = Option(options, "-o");
  std::error_code ec;
  fs::create_directories(target, ec);
  TFd root(::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.Get() < 0) {
    std::fprintf(stderr, "kivpack extract: cannot open folder \"%s\": %s\n", target.c_str(),
                 std::strerror(errno));
    return kExitFailure;
  }
  int failures = 0;
  for (const TIniSection* s : StoredFiles(*unpack)) {
    const std::string name = Utf16ToUtf8(s->NameView());
    try {
      const std::vector<std::string> parts = SafeParts(name);
      if (parts.empty()) throw Exception("no usable file name");
      TOwned<TStream> stream = unpack->OpenEntry(s->NameView());
      if (!stream) throw Exception("no usable position or size");
      TFd file = CreateBelow(root.Get(), parts);
      WriteAll(file.Get(), *stream);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kivpack extract: \"%s\": %s\n", name.c_str(), e.what());
      ++failures;
    }
  }
  return failures ? kExitFailure : kExitOk;
}

} // namespace kivpack
