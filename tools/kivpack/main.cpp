// kivpack: packs, lists, extracts and checks shows, and inspects description files.

#include "kivpackCommands.h"

#include "DecoderLibrary.h"
#include "ImagingLibraries.h"
#include "SdlLibraryVersion.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

using namespace kivpack;

namespace {

std::vector<const TCommand*> AllCommands() {
  std::vector<const TCommand*> all;
  for (int i = 0; i < kShowCommandCount; ++i) all.push_back(&kShowCommands[i]);
  all.push_back(&kMediaCommand);
  all.push_back(&kDecodeCommand);
  all.push_back(&kMixCommand);
  all.push_back(&kThumbCommand);
  all.push_back(&kGlyphsCommand);
  all.push_back(&kIniCommand);
  return all;
}

void PrintHelp(FILE* out) {
  std::fprintf(out, "usage: kivpack COMMAND [ARGS...]\n\nCommands:\n");
  for (const TCommand* c : AllCommands()) std::fprintf(out, "  %-8s %s\n", c->name, c->summary);
  std::fprintf(out, "\nOptions:\n"
                    "  --help    print this help and end (also -h, help)\n"
                    "  --version print the version and those of the libraries in use, and end\n"
                    "\n'kivpack COMMAND --help' describes one command.\n"
                    "Exit codes: 0 success, 1 usage error, 2 failure, 3 problems found (check).\n");
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return kExitOk;
  }
  if (name == "--version") {
    std::printf("kivpack %s\n%s\n%s\n", KIV_VERSION_TEXT, kiv::SdlVersionLine().c_str(),
                kiv::DecoderVersionLine().c_str());
    for (const std::string& line : kiv::ImagingLibraryVersions()) std::printf("%s\n", line.c_str());
    return kExitOk;
  }
  for (const TCommand* c : AllCommands()) {
    if (name != c->name) continue;
    TArgs args(argv + 2, argv + argc);
    for (const std::string& a : args)
      if (a == "--help" || a == "-h") {
        std::fputs(c->help, stdout);
        return kExitOk;
      }
    try {
      return c->run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kivpack %s: %s\n", c->name, e.what());
      return kExitFailure;
    }
  }
  std::fprintf(stderr, "kivpack: unknown command '%s'\n", argv[1]);
  PrintHelp(stderr);
  return kExitUsage;
}
