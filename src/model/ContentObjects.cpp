#include "ContentObjects.h"

#include "ObjectFactory.h"

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
  RegisterGeneratedPicture(kTextPicturePrefix, [](TKivSlideHost& host, std::u16string_view rest) {
    TTextPictureParams params;
    if (!DecodeTextPicture(rest, params)) return TRef<TCachedBitmap>();
    // The layout the show stores for the text when it has one; else the installed fonts.
    TOwned<TCachedVectorText> stored = host.LoadStoredText(params.layout);
    return MakeTextPicture(params, stored.get());
  });
  // The plain body stands in only while no themed generator is registered.
  if (TGeneratedPictureFunc previous = RegisterGeneratedPicture(kButtonPicturePrefix, &MakePlainButtonBody))
    RegisterGeneratedPicture(kButtonPicturePrefix, std::move(previous));
}

} // namespace kiv
