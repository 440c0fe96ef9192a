// kivpack ini: prints, queries and edits description files.

#include "kivpackCommands.h"

#include <cstdio>

namespace kivpack {
namespace {

int RunIni(const TArgs&) {
  std::fprintf(stderr, "kivpack: this command is not available yet\n");
  return kExitFailure;
}

} // namespace

const TCommand kIniCommand = {"ini", "print, query or edit a description file", "usage: kivpack ini FILE\n",
                              &RunIni};

} // namespace kivpack
