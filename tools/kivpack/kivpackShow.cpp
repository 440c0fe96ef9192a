// Commands of packed shows: create, list, cat, extract, info, check.

#include "kivpackCommands.h"

#include <cstdio>

namespace kivpack {
namespace {

int NotYet(const TArgs&) {
  std::fprintf(stderr, "kivpack: this command is not available yet\n");
  return kExitFailure;
}

} // namespace

const TCommand kShowCommands[] = {
    {"create", "pack a project folder into a show", "usage: kivpack create DIR -o OUT\n", &NotYet},
};
const int kShowCommandCount = sizeof(kShowCommands) / sizeof(kShowCommands[0]);

} // namespace kivpack
