#pragma once
// The show as the engine will see it. For now only what a located show needs: the accessor, the project
// document and the start slide; the show options, timings and transitions join it with the timeline.

#include "ryIniStorage.h"
#include "ryKivFileAccessor2.h"
#include "ryObjects.h"

namespace kiv {

class TKivSource : public TObj {
public:
  TKivSource(TRef<TFileAccessor> accessor, const TIniFile& project)
      : accessor_(std::move(accessor)), project_(project) {}

  TFileAccessor& Accessor() const noexcept { return *accessor_; }
  const TIniFile& Project() const noexcept { return project_; }
  int StartSlideIndex() const noexcept { return startSlideIndex_; }
  void SetStartSlideIndex(int index) noexcept { startSlideIndex_ = index; }

private:
  TRef<TFileAccessor> accessor_;
  const TIniFile& project_; // owned by the locator, which outlives this object
  int startSlideIndex_ = 0;
};

} // namespace kiv
