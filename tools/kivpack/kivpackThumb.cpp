// kivpack thumb: decode a picture to PNG.

#include "kivpackCommands.h"

#include <cstdio>

namespace kivpack {
namespace {

int RunThumb(const TArgs&) {
  std::fprintf(stderr, "kivpack thumb: not available yet\n");
  return kExitFailure;
}

} // namespace

const TCommand kThumbCommand = {"thumb", "decode a picture to PNG", "usage: kivpack thumb SHOW NAME -o OUT.png [--level N] | kivpack thumb FILE -o OUT.png [--level N]\n", &RunThumb};

} // namespace kivpack
