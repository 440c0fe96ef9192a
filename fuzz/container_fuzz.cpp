// Opens arbitrary bytes as a packed show and reads every stored file it lists.

#include "PackedShowReader.h"
#include "StreamViews.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string TempPath() {
  static const std::string path = "/tmp/kiv_container_fuzz_" + std::to_string(::getpid()) + ".KvShow";
  return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  {
    TFileStream file(TempPath(), TFileMode::Create);
    file.WriteBuffer(data, static_cast<int64_t>(size));
  }
  try {
    TKivUnpack unpack(TempPath());
    if (!unpack.IsOpen()) return 0;
    const TIniFile& doc = unpack.Struc()->Doc();
    std::vector<uint8_t> buffer(1 << 14);
    for (const TIniSection* s = doc.FirstSection(); s; s = doc.NextSection(s)) {
      try {
        TOwned<TStream> stream = unpack.OpenEntry(s->NameView());
        if (!stream) continue;
        stream->SetPosition(stream->GetSize() / 2);
        while (stream->Read(buffer.data(), static_cast<int64_t>(buffer.size())) > 0) {
        }
      } catch (const Exception&) {
      }
    }
  } catch (const Exception&) {
  }
  return 0;
}
