#include "MediaRecord.h"

#include "OffsetStream.h"
#include "Assert.h"

#include <cstring>

namespace kiv {

bool operator==(const TWaveFormat& a, const TWaveFormat& b) {
  return std::memcmp(&a, &b, sizeof(TWaveFormat)) == 0;
}

TWaveFormat StandardWaveFormat() {
  TWaveFormat f;
  f.formatTag = 1;
  f.channels = 2;
  f.samplesPerSec = 44100;
  f.avgBytesPerSec = 176400;
  f.blockAlign = 4;
  f.bitsPerSample = 16;
  f.extraSize = 0;
  return f;
}

TStreamPtr TStreamWrapperClass::Open(void* owner, const std::string& fileName,
                                     const TStreamOpenHandler& handler) {
  try {
    if (handler) return handler(owner, fileName);
    return MakeOwned<TFileStream>(fileName, TFileMode::OpenRead);
  } catch (const std::exception&) {
    return nullptr;
  }
}

TStreamPtr TStreamWrapperClass::OpenShifted(void* owner, const std::string& fileName, int64_t shift,
                                            const TStreamOpenHandler& handler) {
  TStreamPtr inner = Open(owner, fileName, handler);
  if (!inner) return nullptr;
  try {
    return MakeOwned<TMp3ShiftStream>(std::move(inner), shift);
  } catch (const std::exception&) {
    return nullptr; // the view had adopted the stream and freed it
  }
}

void TStreamWrapperClass::Close(void* owner, TStreamPtr stream, const TStreamCloseHandler& handler) {
  if (!stream) return;
  std::lock_guard guard(lock_);
  if (auto* shifted = dynamic_cast<TMp3ShiftStream*>(stream.get())) stream = shifted->ReleaseInner();
  if (handler) handler(owner, std::move(stream));
}

int64_t TStreamWrapperClass::Position(TStream& stream) {
  std::lock_guard guard(lock_);
  return stream.GetPosition();
}

int64_t TStreamWrapperClass::Size(TStream& stream) {
  std::lock_guard guard(lock_);
  return stream.GetSize();
}

int64_t TStreamWrapperClass::Seek(TStream& stream, int origin, int64_t offset) {
  std::lock_guard guard(lock_);
  switch (origin) {
  case 0:
    return stream.Seek(offset, TSeekOrigin::Begin);
  case 1:
    return stream.Seek(offset, TSeekOrigin::Current);
  case 2:
    return stream.Seek(stream.GetSize() - offset, TSeekOrigin::Begin);
  default:
    ReportAssertion(kAssertionFailure, __FILE__, __LINE__);
    return stream.Seek(0, TSeekOrigin::Begin);
  }
}

int64_t TStreamWrapperClass::Read(TStream& stream, void* buffer, int64_t count) {
  std::lock_guard guard(lock_);
  if (count <= 0) return 0;
  return stream.Read(buffer, count);
}

TStreamWrapperClass& StreamWrapper() {
  // Never freed: decoder threads may still read while static objects go away at exit.
  static TStreamWrapperClass* wrapper = new TStreamWrapperClass;
  return *wrapper;
}

TRef<TStreamWrapperClass> StreamWrapperRef() {
  return TRef<TStreamWrapperClass>::Share(&StreamWrapper());
}

namespace {

// The C side must never see an exception: failures read as -1 (or 0 bytes).
int64_t CbRead(void* stream, void* buffer, int64_t count) noexcept {
  try {
    return StreamWrapper().Read(*static_cast<TStream*>(stream), buffer, count);
  } catch (...) {
    return 0;
  }
}
int64_t CbPosition(void* stream) noexcept {
  try {
    return StreamWrapper().Position(*static_cast<TStream*>(stream));
  } catch (...) {
    return -1;
  }
}
int64_t CbSeek(void* stream, int64_t offset, int origin) noexcept {
  try {
    return StreamWrapper().Seek(*static_cast<TStream*>(stream), origin, offset);
  } catch (...) {
    return -1;
  }
}
int64_t CbSize(void* stream) noexcept {
  try {
    return StreamWrapper().Size(*static_cast<TStream*>(stream));
  } catch (...) {
    return -1;
  }
}

} // namespace

const TStreamCallbackTable& StreamCallbacks() {
  static const TStreamCallbackTable table = {&CbRead, &CbPosition, &CbSeek, &CbSize};
  return table;
}

} // namespace kiv
