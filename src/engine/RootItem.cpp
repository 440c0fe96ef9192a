#include "RootItem.h"

#include "Slide.h"
#include "SlideProducer.h"

#include <algorithm>

namespace kiv {

void TRootItem::Place(size_t index, TDrawItem* item) {
  items_.push_back(item);
  if (index >= previousItems_.size() || previousItems_[index] != item) listChanged_ = true;
}

bool TRootItem::Compose(TDrawContainer* const* slides, TDrawItem* overlay, int count) {
  previousItems_ = std::move(items_);
  items_.clear();
  filter_ = nullptr;
  inTransition_ = false;
  listChanged_ = false;
  filterChanged_ = false;
  if (count <= 0) return false;

  // The slide the show is in: the last one that has started.
  int j = count - 1;
  while (j >= 0 && slides[j]->Timing().start > slides[j]->CurrentTime().CurrentTime())
    --j;
  if (j < 0) {
    currentPosition_ = -1;
    return false;
  }
  TDrawContainer& incoming = *slides[j];
  TKivSlide* incomingSlide = incoming.Slide();
  TKivFilter* filter = incomingSlide ? &incomingSlide->Filter() : nullptr;
  const bool hasFilter = filter && filter->effectClass != 0;

  // The outgoing slide stays while it is still visible and the incoming one comes in through a filter.
  int k = j;
  if (j > 0 && hasFilter) {
    const TDrawContainer& outgoing = *slides[j - 1];
    const double time = outgoing.CurrentTime().CurrentTime();
    if (time >= outgoing.Timing().start && time <= outgoing.Timing().visibleUntil) k = j - 1;
  }
  for (int i = k; i <= j; ++i) {
    const double time = slides[i]->CurrentTime().CurrentTime();
    slides[i]->SetTime(i == j ? std::min(time, slides[i]->Timing().visibleUntil) : time);
  }
  currentPosition_ = incoming.Position();

  size_t index = 0;
  if (k < j && filter && filter->duration > 0) {
    Place(index++, slides[k]->Slide());
    Place(index++, incomingSlide);
    filter_ = filter;
    inTransition_ = true;
    if (filter->progress != filterTime_) filterChanged_ = true;
    filterTime_ = filter->progress;
  } else {
    Place(index++, incomingSlide);
  }
  Place(index, overlay);
  if (items_.size() != previousItems_.size()) listChanged_ = true;
  return true;
}

bool TRootItem::IsChanged() const {
  if (listChanged_ || filterChanged_) return true;
  return std::any_of(items_.begin(), items_.end(),
                     [](const TDrawItem* item) { return item && item->IsChanged(); });
}

void TRootItem::FrameDone(TDeviceDrawer& drawer) {
  for (TDrawItem* item : items_)
    if (item) item->FrameDone(drawer);
  if (filter_ && filter_->filter) filter_->filter->FrameDone();
}

void TRootItem::Draw(TDeviceDrawer& drawer) {
  try {
    // Nothing of the last frame may show through: slides that do not cover the frame, and the depth of
    // 3D objects.
    drawer.Clear(Background | 0xFF000000u, true);
    const size_t n = items_.size();
    if (n == 0) return;
    const bool sharpen = SharpenAmount > 0;
    if (sharpen) drawer.BeginSharpen();
    size_t next = 0;
    if (filter_ && n >= 3 && items_[0] && items_[1]) {
      // The one place where two slides meet: the drawer's filter for the incoming slide's transition.
      drawer.DrawTransition(*items_[0], *items_[1], filter_);
      next = 2;
    }
    for (; next + 1 < n; ++next)
      if (items_[next]) drawer.DrawItem(*items_[next]);
    if (sharpen) drawer.EndSharpen(SharpenThreshold, SharpenAmount);
    if (TDrawItem* overlay = items_[n - 1])
      drawer.DrawItem(*overlay);
    else if (FillBackground)
      drawer.FillOutside(Background);
  } catch (...) {
    // A frame that fails to draw is skipped; the next one tries again.
  }
}

} // namespace kiv
