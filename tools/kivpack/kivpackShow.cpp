// Commands of packed shows: create, list, cat, extract, info, check.

#include "kivpackShow.h"

#include "CaseFolding.h"
#include "StreamViews.h"
#include "Utf8Conversion.h"

#include <algorithm>

#include <cstdio>
#include <vector>

namespace kivpack {

using namespace kiv;

std::unique_ptr<TKivUnpack> OpenShow(const char* command, const std::string& path) {
  std::string message;
  try {
    auto unpack = std::make_unique<TKivUnpack>(path);
    if (unpack->IsOpen()) return unpack;
    // No trailer at all: the player's own text for a show it cannot load.
    message = unpack->Message().empty() ? "Can`t Load Show" : unpack->Message();
  } catch (const EInflateError&) {
    message = "Slide-show File Damaged";
  }
  std::fprintf(stderr, "kivpack %s: %s: \"%s\"\n", command, message.c_str(), path.c_str());
  return nullptr;
}

std::vector<const TIniSection*> StoredFiles(const TKivUnpack& unpack) {
  std::vector<const TIniSection*> files;
  const TIniFile& doc = unpack.Struc()->Doc();
  for (const TIniSection* s = doc.FirstSection(); s; s = doc.NextSection(s))
    if (!SameText(s->NameView(), kProtectionSection)) files.push_back(s);
  return files;
}

namespace {

int Usage(const char* text) {
  std::fputs(text, stderr);
  return kExitUsage;
}

const char kListHelp[] =
    "usage: kivpack list SHOW\n"
    "Prints one line per stored file, in structure order:\n"
    "NAME<TAB>METHOD<TAB>POSITION<TAB>SIZE (absolute position; -1 for an unusable entry).\n";

int RunList(const TArgs& args) {
  if (args.size() != 1) return Usage(kListHelp);
  auto unpack = OpenShow("list", args[0]);
  if (!unpack) return kExitFailure;
  for (const TIniSection* s : StoredFiles(*unpack)) {
    const TKivEntryInfo info = unpack->EntryInfo(*s);
    std::printf("%s\t%d\t%lld\t%lld\n", Utf16ToUtf8(s->NameView()).c_str(), info.method,
                static_cast<long long>(info.position), static_cast<long long>(info.size));
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

const char kCatHelp[] =
    "usage: kivpack cat SHOW NAME\n"
    "Writes the decoded bytes of one stored file to stdout. NAME as the project refers to\n"
    "it: brackets allowed, letter case ignored.\n";

int RunCat(const TArgs& args) {
  if (args.size() != 2) return Usage(kCatHelp);
  auto unpack = OpenShow("cat", args[0]);
  if (!unpack) return kExitFailure;
  TOwned<TStream> stream = unpack->OpenEntry(std::string_view(args[1]));
  if (!stream) {
    std::fprintf(stderr, "kivpack cat: no stored file \"%s\" in \"%s\"\n", args[1].c_str(), args[0].c_str());
    return kExitFailure;
  }
  std::vector<uint8_t> buffer(1 << 16);
  for (int64_t n; (n = stream->Read(buffer.data(), static_cast<int64_t>(buffer.size()))) > 0;)
    if (std::fwrite(buffer.data(), 1, static_cast<size_t>(n), stdout) != static_cast<size_t>(n))
      return kExitFailure;
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

const char kInfoHelp[] =
    "usage: kivpack info SHOW\n"
    "Prints the show's version, trailer form (A or B), shift (the relocation of its stored\n"
    "files in bytes) and number of entries, one per line.\n";

int RunInfo(const TArgs& args) {
  if (args.size() != 1) return Usage(kInfoHelp);
  auto unpack = OpenShow("info", args[0]);
  if (!unpack) return kExitFailure;
  std::printf("version: %s\nform: %s\nshift: %lld\nentries: %zu\n", Utf16ToUtf8(unpack->Version()).c_str(),
              unpack->Form() == TTrailerForm::B ? "B" : "A", static_cast<long long>(unpack->Shift()),
              StoredFiles(*unpack).size());
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

const char kCheckHelp[] =
    "usage: kivpack check SHOW\n"
    "Opens every stored file, inflates what is packed and parses every description file (Project.kiv\n"
    "first, then every .kiv and .ini file). Problems are printed as NAME:LINE:COLUMN: TEXT (lines from 1;\n"
    "0:0 for problems of a whole file). Exit 0 when clean, 3 when problems were found.\n";

bool IsDescriptionFile(std::u16string_view name) {
  const std::u16string lower = LowerCase(name);
  return lower.ends_with(u".kiv") || lower.ends_with(u".ini");
}

const char* ParseErrorText(int code) {
  switch (code) {
  case kIniErrorEndWithoutObject:
    return "\"end\" without an open object";
  case kIniErrorObjectsOpen:
    return "objects still open at the end of the text";
  case kIniErrorUnknownLine:
    return "line of no known kind";
  default:
    return "parse error";
  }
}

int RunCheck(const TArgs& args) {
  if (args.size() != 1) return Usage(kCheckHelp);
  auto unpack = OpenShow("check", args[0]);
  if (!unpack) return kExitFailure;
  int problems = 0;
  auto report = [&problems](const std::string& name, int line, int column, const std::string& text) {
    std::printf("%s:%d:%d: %s\n", name.c_str(), line, column, text.c_str());
    ++problems;
  };
  std::vector<const TIniSection*> files = StoredFiles(*unpack);
  // The project document first: it is what the player reads first.
  std::stable_partition(files.begin(), files.end(),
                        [](const TIniSection* s) { return SameText(s->NameView(), u"Project.kiv"); });
  if (files.empty() || !SameText(files.front()->NameView(), u"Project.kiv"))
    report("Project.kiv", 0, 0, "the show has no project document");
  for (const TIniSection* s : files) {
    const std::string name = Utf16ToUtf8(s->NameView());
    try {
      const TKivEntryInfo info = unpack->EntryInfo(*s);
      if (!info.found) {
        report(name, 0, 0, "no usable position or size");
        continue;
      }
      TOwned<TStream> stream = unpack->OpenEntry(s->NameView());
      if (!stream) {
        report(name, 0, 0, "cannot be opened");
        continue;
      }
      if (IsDescriptionFile(s->NameView())) {
        TIniFile doc;
        doc.SetErrorNotify([&](TIniFile&, int code, int column, int line) {
          report(name, line + 1, column, ParseErrorText(code));
        });
        if (!doc.LoadFromStream(*stream)) report(name, 0, 0, "the text cannot be read");
      } else {
        std::vector<uint8_t> buffer(1 << 16);
        int64_t total = 0;
        for (int64_t n; (n = stream->Read(buffer.data(), static_cast<int64_t>(buffer.size()))) > 0;)
          total += n;
        if (total != stream->GetSize()) report(name, 0, 0, "shorter than recorded");
      }
    } catch (const std::exception& e) {
      report(name, 0, 0, e.what());
    }
  }
  std::fflush(stdout);
  return problems ? 3 : kExitOk;
}

const char kCreateHelp[] =
    "usage: kivpack create DIR -o OUT [--prefix FILE] [--form A|B] [--method 0|1|2]\n"
    "Packs a project folder (its Project.kiv and every file beside it, recursively) into a show.\n"
    "Project.kiv is deflated (method 1), other files are stored with --method (default 2, XOR).\n"
    "Entry names are the paths relative to DIR with backslashes. --prefix stores FILE first, at\n"
    "position 0 (method 0), e.g. the player program. --form picks the trailer: A (default) ends with the\n"
    "magic; B adds the end position, so the show can later be copied behind another prefix.\n";

const char kExtractHelp[] = "usage: kivpack extract SHOW -o DIR\n"
                            "Writes every stored file below DIR. Names are sanitised: drive letters, \"..\"\n"
                            "and leading separators are dropped, and links below DIR are never followed.\n";

} // namespace

const TCommand kShowCommands[] = {
    {"create", "pack a project folder into a show", kCreateHelp, &RunCreate},
    {"list", "list the stored files of a show", kListHelp, &RunList},
    {"cat", "write one stored file to stdout", kCatHelp, &RunCat},
    {"extract", "write every stored file below a folder", kExtractHelp, &RunExtract},
    {"info", "print a show's version, trailer form, shift and entry count", kInfoHelp, &RunInfo},
    {"check", "open every stored file and parse its description files", kCheckHelp, &RunCheck},
};
const int kShowCommandCount = sizeof(kShowCommands) / sizeof(kShowCommands[0]);

} // namespace kivpack
