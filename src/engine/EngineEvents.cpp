#include "EngineEvents.h"

#include "IniDocument.h"
#include "ShowFileAccess.h"
#include "SlideProducer.h"

#include <algorithm>

namespace kiv {

TKivEventData::TKivEventData(int eventNumber, std::vector<int32_t> integers, TObj* data, bool ownsData)
    : eventNumber_(eventNumber), integers_(std::move(integers)), data_(data), ownsData_(ownsData && data) {}

TKivEventData::TKivEventData(int eventNumber, std::vector<int32_t> integers, TOwned<TObj> data)
    : TKivEventData(eventNumber, std::move(integers), data.get(), data != nullptr) {
  data.release(); // the record frees it now
}

TKivEventData::~TKivEventData() {
  if (ownsData_) TObjDeleter()(data_);
}

TOwned<TObj> TKivEventData::TakeData() {
  if (!ownsData_) return nullptr;
  ownsData_ = false;
  return TOwned<TObj>(std::exchange(data_, nullptr));
}

TOpenParams::TOpenParams(int32_t sequence, double position, TRef<TFileAccessor> accessor,
                         std::unique_ptr<TIniFile> document)
    : Sequence(sequence), Accessor(std::move(accessor)), Document(std::move(document)), Position(position) {}

TOpenParams::~TOpenParams() = default;

void TOpenParams::Assign(TOpenParams& source) {
  if (&source == this) return;
  Paused = source.Paused;
  Sequence = source.Sequence;
  Position = source.Position;
  Accessor = std::move(source.Accessor);
  Document = std::move(source.Document);
}

TSlideData::TSlideData(const std::vector<TOwned<TDrawContainer>>& containers) {
  count_ = static_cast<int>(std::min<size_t>(containers.size(), kMaxSlides));
  for (int i = 0; i < count_; ++i)
    slides_[static_cast<size_t>(i)] = containers[static_cast<size_t>(i)].get();
}

} // namespace kiv
