#include "ContentObjects.h"

#include "GeneratedPictures.h"
#include "LoadYield.h"
#include "MaskObjects.h"
#include "ObjectFactory.h"
#include "ShowFileAccess.h"
#include "VideoObject.h"

namespace kiv {

namespace {

template <class T> TOwned<TKivObject> Make(TKivObject* parent, std::u16string guid) {
  return MakeOwned<T>(parent, std::move(guid));
}

} // namespace

// ---- registration ----

void RegisterContentKinds() {
  RegisterKivObjectKind(u"image", &Make<TKivImageObject>);
  RegisterKivObjectKind(u"mainimage", &Make<TKivImageObject>);
  RegisterKivObjectKind(u"text", &Make<TKivText>);
  RegisterKivObjectKind(u"textcomment", &Make<TKivText>);
  RegisterKivObjectKind(u"button", &Make<TKivButton>);
  RegisterKivObjectKind(u"box", &Make<TKivBox>);
  RegisterKivObjectKind(u"frame", &Make<TKivFrame>);
  RegisterKivObjectKind(u"video", &Make<TKivVideo>);
  RegisterKivObjectKind(u"mainvideo", &Make<TKivVideo>);
  RegisterKivObjectKind(u"videomask", &Make<TKivVideoMask>);
  RegisterKivObjectKind(u"mask", &Make<TKivMask>);
  RegisterKivObjectKind(u"viewport", &Make<TKivViewPort>);
  RegisterGeneratedPicture(kMaskPicturePrefix, [](TKivSlideHost& host, std::u16string_view rest) {
    TFileAccessor* accessor = host.Accessor();
    if (!accessor || rest.empty()) return TRef<TCachedBitmap>();
    TOwned<TKivImage> picture = LoadSharedImage(*accessor, rest, TPictureSize{});
    if (!picture || picture->IsErrorPicture()) return TRef<TCachedBitmap>();
    TRef<TCachedBitmap> mask = MakeMaskBitmap(picture->Bitmap());
    std::vector<uint32_t> pixels = mask->Pixels();
    return TRef<TCachedBitmap>(
        TRef<TNamedBitmap>::Make(std::u16string(kMaskPicturePrefix) + std::u16string(rest), mask->Width(),
                                 mask->Height(), std::move(pixels)));
  });
  RegisterGeneratedPicture(kTextPicturePrefix, [](TKivSlideHost& host, std::u16string_view rest) {
    TTextPictureParams params;
    if (!DecodeTextPicture(rest, params)) return TRef<TCachedBitmap>();
    // The layout the show stores for the text when it has one; else the installed fonts.
    TOwned<TCachedVectorText> stored = host.LoadStoredText(params.layout);
    return MakeTextPicture(params, stored.get());
  });
  RegisterGeneratedPicture(kButtonPicturePrefix, [](TKivSlideHost& host, std::u16string_view rest) {
    return host.ButtonProducers().MakeButton(rest);
  });
  RegisterGeneratedPicture(kShadowPicturePrefix, [](TKivSlideHost& host, std::u16string_view rest) {
    return MakeShadowPicture(host.Accessor(), rest, &LoadCallBack);
  });
  RegisterGeneratedPicture(kPresetMaskPicturePrefix, [](TKivSlideHost&, std::u16string_view rest) {
    return MakePresetMaskPicture(rest, &LoadCallBack);
  });
}

} // namespace kiv
