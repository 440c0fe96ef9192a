// kivpack ini: prints, queries and edits description files.

#include "kivpackCommands.h"

#include "IniDocument.h"
#include "Streams.h"
#include "Utf8Conversion.h"

#include <cstdio>
#include <string>

namespace kivpack {
namespace {

using kiv::TIniFile;

const char kIniHelp[] =
    "usage: kivpack ini FILE\n"
    "       kivpack ini FILE SECTION KEY\n"
    "       kivpack ini FILE --set SECTION KEY VALUE [-o OUT]\n"
    "\n"
    "Reads a description file (UTF-16 LE or BE with mark, UTF-8 with mark, otherwise Windows-1252).\n"
    "\n"
    "  FILE                 writes the document to stdout as the store writes it:\n"
    "                       UTF-8 with a byte-order mark, CR LF line ends.\n"
    "  FILE SECTION KEY     prints the key's value in UTF-8 and a newline; exit 2 when\n"
    "                       the section or the key is absent. Names ignore letter case.\n"
    "  --set SECTION KEY VALUE\n"
    "                       sets the key (creating section and key when absent) and writes\n"
    "                       the document to OUT, or back to FILE. The old file is replaced\n"
    "                       only after the new one was written completely.\n"
    "\n"
    "Arguments are UTF-8. Parse errors go to stderr as FILE:LINE:COLUMN: error CODE\n"
    "(LINE and COLUMN from 1; CODE 0: \"end\" without an open object, 1: objects still\n"
    "open at the end, 2: a line of no known kind, dropped) and do not fail the command.\n"
    "\n"
    "Exit codes: 0 success, 1 usage error, 2 failure (unreadable file, invalid text,\n"
    "absent section or key, failed write).\n";

int Usage() {
  std::fputs(kIniHelp, stderr);
  return kExitUsage;
}

bool Load(TIniFile& doc, const std::string& file) {
  doc.SetErrorNotify([&file](TIniFile&, int code, int column, int line) {
    std::fprintf(stderr, "%s:%d:%d: error %d\n", file.c_str(), line + 1, column, code);
  });
  std::vector<uint8_t> bytes;
  if (!kiv::ReadWholeFile(file, bytes)) {
    std::fprintf(stderr, "kivpack ini: cannot read '%s'\n", file.c_str());
    return false;
  }
  kiv::TMemoryStream stream(std::move(bytes));
  if (!doc.LoadFromStream(stream)) {
    std::fprintf(stderr, "kivpack ini: '%s' holds invalid text (bad UTF-8 or surrogate); nothing written\n",
                 file.c_str());
    return false;
  }
  return true;
}

int Print(const TIniFile& doc) {
  kiv::TMemoryStream out;
  if (!doc.SaveToStream(out)) {
    std::fprintf(stderr, "kivpack ini: the document cannot be written (invalid surrogate)\n");
    return kExitFailure;
  }
  const auto& data = out.Data();
  if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "kivpack ini: cannot write to stdout\n");
    return kExitFailure;
  }
  return kExitOk;
}

int Query(const TIniFile& doc, const std::string& section, const std::string& key) {
  const kiv::TIniSection* found = doc.FindSection(kiv::Utf8ToUtf16(section));
  if (!found) {
    std::fprintf(stderr, "kivpack ini: no section '%s'\n", section.c_str());
    return kExitFailure;
  }
  const kiv::TIniIdent* ident = found->FindIdent(kiv::Utf8ToUtf16(key));
  if (!ident) {
    std::fprintf(stderr, "kivpack ini: no key '%s' in section '%s'\n", key.c_str(), section.c_str());
    return kExitFailure;
  }
  std::string value = kiv::Utf16ToUtf8(ident->ValueView()) + "\n";
  if (std::fwrite(value.data(), 1, value.size(), stdout) != value.size() || std::fflush(stdout) != 0)
    return kExitFailure;
  return kExitOk;
}

int RunIni(const TArgs& args) {
  const bool isSet = args.size() >= 2 && args[1] == "--set";
  if (isSet ? !(args.size() == 5 || (args.size() == 7 && args[5] == "-o"))
            : !(args.size() == 1 || args.size() == 3))
    return Usage();
  const std::string& file = args[0];
  TIniFile doc;
  if (!Load(doc, file)) return kExitFailure;
  if (args.size() == 1) return Print(doc);
  if (!isSet) return Query(doc, args[1], args[2]);

  doc.WriteString(kiv::Utf8ToUtf16(args[2]), kiv::Utf8ToUtf16(args[3]), kiv::Utf8ToUtf16(args[4]));
  const std::string& out = args.size() == 7 ? args[6] : file;
  if (!doc.SaveToFile(out)) {
    std::fprintf(stderr, "kivpack ini: cannot write '%s'\n", out.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

} // namespace

const TCommand kIniCommand = {"ini", "print, query or edit a description file", kIniHelp, &RunIni};

} // namespace kivpack
