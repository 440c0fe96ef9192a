#include "ryImageIO.h"

#include <exception>

namespace kiv {

bool ReadRest(TStream& stream, std::vector<uint8_t>& out, int64_t minBytes, int64_t maxBytes) {
  const int64_t start = stream.GetPosition();
  try {
    const int64_t size = stream.GetSize() - start;
    if (size < minBytes || size > maxBytes || size < 0) return false;
    out.resize(static_cast<size_t>(size));
    const int64_t got = size > 0 ? stream.Read(out.data(), size) : 0;
    if (got == size) return true;
  } catch (const std::exception&) {
  }
  out.clear();
  stream.SetPosition(start);
  return false;
}

bool PeekBytes(TStream& stream, void* buffer, int64_t count) {
  const int64_t start = stream.GetPosition();
  const int64_t got = stream.Read(buffer, count);
  stream.SetPosition(start);
  return got == count;
}

} // namespace kiv
