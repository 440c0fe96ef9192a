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

TStream* TStreamWrapperClass::Open(void* owner, const std::string& fileName,
                                   const TStreamOpenHandler& handler) {
  std::lock_guard guard(lock_);
  try {
    if (handler) return handler(owner, fileName);
    return new TFileStream(fileName, TFileMode::OpenRead);
  } catch (const std::exception&) {
    return nullptr;
  }
}

TStream* TStreamWrapperClass::OpenShifted(void* owner, const std::string& fileName, int64_t shift,
                                          const TStreamOpenHandler& handler) {
  std::lock_guard guard(lock_);
  TStream* inner = Open(owner, fileName, handler);
  if (!inner) return nullptr;
  try {
    return new TMp3ShiftStream(inner, shift);
  } catch (const std::exception&) {
    TObj::Free(inner);
    return nullptr;
  }
}

void TStreamWrapperClass::Close(void* owner, TStream* stream, const TStreamCloseHandler& handler) {
  std::lock_guard guard(lock_);
  if (!stream) return;
  auto closeOne = [&](TStream* s) {
    if (handler)
      handler(owner, s);
    else
      TObj::Free(s);
  };
  if (auto* shifted = dynamic_cast<TMp3ShiftStream*>(stream)) {
    closeOne(shifted->ReleaseInner());
    TObj::Free(shifted);
    return;
  }
  closeOne(stream);
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
