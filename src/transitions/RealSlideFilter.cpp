#include "RealSlideFilter.h"

#include "ImageObject.h"
#include "Log.h"
#include "ShowFileAccess.h"
#include "TriangleEffecter.h"

#include <algorithm>
#include <exception>
#include <string>

namespace kiv {

namespace {

// A slide texture seen through a picture: draws with the texture's device texture and never drops it.
class TSlideTextureView final : public TCustomTexture {
public:
  explicit TSlideTextureView(TCustomTexture& target) : TCustomTexture(target.Screen()), target_(target) {
    SetSize({target.width, target.height});
    premultiplied = target.premultiplied;
  }
  T3DTexture* GetTexture() override { return target_.GetTexture(); }
  void FillLevel0(std::span<TDevBitmap* const>) override {}
  void UploadContent() override {}
  void Release() override {}

private:
  TCustomTexture& target_;
};

void Attach(TKivPicture& picture, TCustomTexture* texture) {
  if (texture && texture->Screen()) picture.attachments.push_back(MakeOwned<TSlideTextureView>(*texture));
}

void Detach(TKivPicture& picture) {
  picture.RemoveAttachments([](TObj* item) { return dynamic_cast<TSlideTextureView*>(item) != nullptr; });
}

// Every object of the tree, parents before children.
template <class F> void ForEachObject(TKivObject& root, const F& visit) {
  std::vector<TKivObject*> pending{&root};
  while (!pending.empty()) {
    TKivObject* object = pending.back();
    pending.pop_back();
    visit(*object);
    for (int i = object->ChildCount() - 1; i >= 0; --i)
      pending.push_back(&object->Child(i));
  }
}

std::vector<std::u16string> SplitNames(const std::u16string& text) {
  std::vector<std::u16string> names;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t bar = std::min(text.find(u'|', start), text.size());
    if (bar > start) names.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  return names;
}

} // namespace

TOwned<TRealSlideFilter> TRealSlideFilter::Create(TFileAccessor& accessor, std::u16string_view fileName,
                                                  TSize frame, float scaleX, float scaleY) {
  TOwned<TStream> stream = Open(accessor, fileName);
  if (!stream) return nullptr;
  auto document = std::make_unique<TIniFile>();
  if (!document->LoadFromStream(*stream)) return nullptr;
  TOwned<TRealSlideFilter> filter(new TRealSlideFilter());
  if (const TIniSection* first = document->FindSection(u"slide1")) {
    filter->cover_ = first->ReadBool(u"CoverMode", false);
    filter->transparentBg_ = first->ReadBool(u"TransparentBg", false);
    filter->backgroundMode_ = first->ReadInteger(u"CustomEffBg", 0);
  }
  filter->frame_ = frame;
  filter->scaleX_ = scaleX > 0 ? scaleX : 100;
  filter->scaleY_ = scaleY > 0 ? scaleY : 100;
  try {
    filter->source_ = MakeOwned<TKivSource>(TRef<TFileAccessor>::Share(&accessor), std::move(document));
    filter->producer_ = MakeOwned<TSlideProducer>(filter->source_.get(), false);
    filter->producer_->SetScreen(frame, filter->cover_, filter->scaleX_, filter->scaleY_);
    if (!filter->Start()) return nullptr;
  } catch (const std::exception& error) {
    // A broken transition project plays as the cross-fade.
    if (LogActive()) LogLine(std::string("TRealSlideFilter.Create: ") + error.what());
    return nullptr;
  }
  return filter;
}

TRealSlideFilter::~TRealSlideFilter() {
  // The slide goes before the producer that built it, the producer before its source.
  slide_.reset();
  producer_.reset();
  source_.reset();
}

bool TRealSlideFilter::Start() {
  slide_ = producer_->BuildSlide(0, 1);
  if (!slide_) return false;
  overlaySlide = slide_.get();
  outgoing_ = TRef<TKivPicture>::Make(TKivPicture::TStandIn{}, frame_.width, frame_.height);
  incoming_ = TRef<TKivPicture>::Make(TKivPicture::TStandIn{}, frame_.width, frame_.height);
  ForEachObject(*slide_, [this](TKivObject& object) {
    auto* image = dynamic_cast<TKivImageObject*>(&object);
    if (!image || image->ReplaceWithEffectBuffer() == 0) return;
    // The pictures hold screen pixels: undo the slide's own scale so that they match the slides.
    TKeyPoints& points = image->KeyPoints();
    for (int i = 0; i < points.Count(); ++i) {
      TKeyPoint& point = points.KeyPoint(i);
      TKeyValues values = point.Values();
      values.scaleX = values.scaleX / scaleX_ * 100;
      values.scaleY = values.scaleY / scaleY_ * 100;
      point.SetValues(values);
    }
    if (image->ReplaceWithEffectBuffer() == 1) image->SetPicture(outgoing_);
    if (image->ReplaceWithEffectBuffer() == 2) image->SetPicture(incoming_);
  });
  SetEffectPosition(0);
  return true;
}

void TRealSlideFilter::AttachSlideTextures(TCustomD3DEffecter& effecter) {
  DetachSlideTextures();
  Attach(*outgoing_, effecter.SlideTextureA());
  Attach(*incoming_, effecter.SlideTextureB());
}

void TRealSlideFilter::DetachSlideTextures() {
  Detach(*outgoing_);
  Detach(*incoming_);
}

void TRealSlideFilter::PrepareContent(TDeviceDrawer& drawer) {
  slide_->UpdateGeometry(true);
  if (drawer.IsReady()) slide_->Prepare(drawer);
  // Pictures loaded just now give their objects a size: place them again.
  slide_->UpdateGeometry(true);
}

void TRealSlideFilter::SetEffectPosition(double x) {
  progress_ = std::clamp(x, 0.0, 1.0);
  slideTime_ = slide_->Begin() + (slide_->End() - slide_->Begin()) * progress_;
  if (LogActive()) LogLine("set slide eff. time: " + std::to_string(slideTime_));
  slide_->SetTime(true, slideTime_);
}

void TRealSlideFilter::PrepareEffect(TDrawItem& first, TDrawItem& second) {
  const auto* outgoing = dynamic_cast<const TKivSlide*>(&first);
  const auto* incoming = dynamic_cast<const TKivSlide*>(&second);
  switch (backgroundMode_) {
  case 1:
    if (outgoing) slide_->SetBackground(outgoing->Background());
    break;
  case 2:
    if (incoming) slide_->SetBackground(incoming->Background());
    break;
  case 3:
    if (outgoing) slide_->SetBackground(outgoing->Background());
    if (incoming) slide_->SetSecondBackground(incoming->Background(), static_cast<float>(progress_));
    break;
  default:
    break;
  }
}

TOwned<TDrawFilter> CreateCustomTransition(const TRect& frame, TDrawItem* first,
                                           const TEffectParams& params) {
  const std::vector<std::u16string> names = SplitNames(params.customDescription);
  if (names.empty()) return nullptr;
  const std::u16string& name =
      names[static_cast<uint32_t>(params.seed) % static_cast<uint32_t>(names.size())];
  auto* slide = dynamic_cast<TKivSlide*>(first);
  TKivSlideHost* host = slide ? slide->GetHost() : nullptr;
  if (!host || !host->Accessor()) return nullptr;
  const TKeyValues& scale = slide->Values();
  TOwned<TRealSlideFilter> filter = TRealSlideFilter::Create(
      *host->Accessor(), name, {frame.Width(), frame.Height()}, scale.scaleX, scale.scaleY);
  if (filter) filter->slideIndex = static_cast<uint8_t>(std::clamp(slide->SlideIndex() + 1, 1, 255));
  return filter;
}

} // namespace kiv
