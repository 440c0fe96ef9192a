// kivpack media: describe a sound or video file.

#include "kivpackCommands.h"

#include <cstdio>

namespace kivpack {
namespace {

int RunMedia(const TArgs&) {
  std::fprintf(stderr, "kivpack media: not available yet\n");
  return kExitFailure;
}

} // namespace

const TCommand kMediaCommand = {"media", "describe a sound or video file", "usage: kivpack media SHOW NAME | kivpack media FILE\n", &RunMedia};

} // namespace kivpack
