#include "TextMacros.h"

#include "Assert.h"
#include "CaseFolding.h"
#include "ImageObject.h"
#include "ShowFileAccess.h"
#include "Slide.h"
#include "SlideHost.h"
#include "Utf8Conversion.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr std::u16string_view kPathNameExt = u"<%MainImg.PathNameExt%>";

constexpr std::u16string_view kPrimary[] = {
    u"<%SlideIndex%>",
    u"<%SlidesCount%>",
    u"<%MainImg.Width%>",
    u"<%MainImg.Height%>",
    u"<%MainImg.Exif.Comment%>",
    u"<%MainImg.Exif.Description%>",
    kPathNameExt,
    u"<%MainImg.IPTC.DocumentTitle%>",
    u"<%MainImg.IPTC.SpecialInstructions%>",
    u"<%MainImg.IPTC.AuthorByline%>",
    u"<%MainImg.IPTC.AuthorTitle%>",
    u"<%MainImg.IPTC.City%>",
    u"<%MainImg.IPTC.Sublocation%>",
    u"<%MainImg.IPTC.ProvinceState%>",
    u"<%MainImg.IPTC.Country%>",
    u"<%MainImg.IPTC.OTR%>",
    u"<%MainImg.IPTC.Headline%>",
    u"<%MainImg.IPTC.Credits%>",
    u"<%MainImg.IPTC.Source%>",
    u"<%MainImg.IPTC.Copyright%>",
    u"<%MainImg.IPTC.CaptionDescription%>",
    u"<%MainImg.IPTC.CaptionWriter%>",
};

// IPTC datasets of record 2 for the IPTC macros, in the table's order.
constexpr struct {
  std::u16string_view macro;
  uint8_t dataset;
} kIptc[] = {
    {u"<%MainImg.IPTC.DocumentTitle%>", 5},   {u"<%MainImg.IPTC.SpecialInstructions%>", 40},
    {u"<%MainImg.IPTC.AuthorByline%>", 80},   {u"<%MainImg.IPTC.AuthorTitle%>", 85},
    {u"<%MainImg.IPTC.City%>", 90},           {u"<%MainImg.IPTC.Sublocation%>", 92},
    {u"<%MainImg.IPTC.ProvinceState%>", 95},  {u"<%MainImg.IPTC.Country%>", 101},
    {u"<%MainImg.IPTC.OTR%>", 103},           {u"<%MainImg.IPTC.Headline%>", 105},
    {u"<%MainImg.IPTC.Credits%>", 110},       {u"<%MainImg.IPTC.Source%>", 115},
    {u"<%MainImg.IPTC.Copyright%>", 116},     {u"<%MainImg.IPTC.CaptionDescription%>", 120},
    {u"<%MainImg.IPTC.CaptionWriter%>", 122},
};

enum class TDerived { FileName, PathName, FileNameExt, FolderPath, FolderName, ExifDate, ExifTime };
constexpr struct {
  std::u16string_view macro;
  TDerived kind;
} kDerived[] = {
    {u"<%MainImg.FileName%>", TDerived::FileName},       {u"<%MainImg.PathName%>", TDerived::PathName},
    {u"<%MainImg.FileNameExt%>", TDerived::FileNameExt}, {u"<%MainImg.FolderPath%>", TDerived::FolderPath},
    {u"<%MainImg.FolderName%>", TDerived::FolderName},   {u"<%MainImg.Exif.Date%>", TDerived::ExifDate},
    {u"<%MainImg.Exif.Time%>", TDerived::ExifTime},
};

bool MatchesAt(std::u16string_view text, size_t pos, std::u16string_view macro) {
  return text.size() - pos >= macro.size() && SameText(text.substr(pos, macro.size()), macro);
}

std::u16string WithoutExtension(std::u16string_view path) {
  const size_t slash = path.rfind(u'\\');
  const size_t dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos || (slash != std::u16string_view::npos && dot < slash))
    return std::u16string(path);
  return std::u16string(path.substr(0, dot));
}

std::u16string LastComponent(std::u16string_view path) {
  const size_t slash = path.rfind(u'\\');
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string Derive(TDerived kind, const TMTParser& parser, const TMTParser::TValueFunc& value) {
  if (kind == TDerived::ExifDate || kind == TDerived::ExifTime) {
    const std::u16string stamp = value(parser, kExifDateTimeMacro);
    const size_t blank = stamp.find(u' ');
    if (kind == TDerived::ExifDate) return stamp.substr(0, blank);
    return blank == std::u16string::npos ? std::u16string() : stamp.substr(blank + 1);
  }
  const std::u16string path = value(parser, kPathNameExt);
  const size_t slash = path.rfind(u'\\');
  switch (kind) {
  case TDerived::FileName:
    return WithoutExtension(LastComponent(path));
  case TDerived::PathName:
    return WithoutExtension(path);
  case TDerived::FileNameExt:
    return LastComponent(path);
  case TDerived::FolderPath:
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
  case TDerived::FolderName: {
    if (slash == std::u16string::npos || slash == 0) return {};
    const size_t before = path.rfind(u'\\', slash - 1);
    const size_t start = before == std::u16string::npos ? 0 : before + 1;
    return path.substr(start, slash - start);
  }
  default:
    return {};
  }
}

} // namespace

std::u16string TMTParser::Expand(std::u16string_view text) const {
  RY_ASSERT(value_ != nullptr);
  std::u16string out;
  out.reserve(text.size());
  size_t pos = 0;
  // One pass from left to right: what a macro is replaced by is never scanned for macros again.
  while (pos < text.size()) {
    const size_t open = text.find(u"<%", pos);
    if (open == std::u16string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, open - pos));
    bool replaced = false;
    for (std::u16string_view macro : kPrimary)
      if (MatchesAt(text, open, macro)) {
        out += value_(*this, macro);
        pos = open + macro.size();
        replaced = true;
        break;
      }
    if (!replaced)
      for (const auto& derived : kDerived)
        if (MatchesAt(text, open, derived.macro)) {
          out += Derive(derived.kind, *this, value_);
          pos = open + derived.macro.size();
          replaced = true;
          break;
        }
    if (!replaced) {
      // Not a macro: the "<" stays, and a macro may still begin right after it ("<<%SlideIndex%>").
      out.push_back(text[open]);
      pos = open + 1;
    }
  }
  if (out.empty()) out.assign(1, u' ');
  return out;
}

TKivImageObject* FindMainImage(const TKivObject& object) {
  const TKivObject* root = &object;
  while (root->Parent())
    root = root->Parent();
  // Depth first, parent before children, without recursion.
  std::vector<const TKivObject*> stack{root};
  while (!stack.empty()) {
    const TKivObject* item = stack.back();
    stack.pop_back();
    if (auto* image = dynamic_cast<const TKivImageObject*>(item); image && image->ImageIndex())
      return const_cast<TKivImageObject*>(image);
    for (int i = item->ChildCount() - 1; i >= 0; --i)
      stack.push_back(&item->Child(i));
  }
  return nullptr;
}

std::u16string SlideMacroValue(const TKivObject& object, std::u16string_view macro, TMacroMetadata& cache) {
  auto decimal = [](int64_t v) { return Utf8ToUtf16(std::to_string(v)); };
  if (macro == u"<%SlideIndex%>") {
    const TKivSlide* slide = object.FindSlide();
    return slide ? decimal(int64_t{slide->SlideIndex()} + 1) : std::u16string();
  }
  TKivSlideHost* host = object.GetHost();
  if (macro == u"<%SlidesCount%>") return host ? decimal(host->SlideCount()) : std::u16string();
  TKivImageObject* main = FindMainImage(object);
  if (!main) return {};
  if (macro == kPathNameExt) return main->ImageName();
  if (macro == u"<%MainImg.Width%>" || macro == u"<%MainImg.Height%>") {
    // The size of the loaded picture: loaded now when the picture has not been yet (once: loading may plan
    // the slide again, which must not come back here to load it a second time).
    static thread_local bool loading = false;
    if (!main->Picture() && !loading) {
      loading = true;
      try {
        main->LoadContent();
      } catch (...) {
        loading = false;
        throw;
      }
      loading = false;
    }
    const TKivPicture* picture = main->Picture();
    if (!picture) return {};
    return decimal(macro == u"<%MainImg.Width%>" ? picture->Width() : picture->Height());
  }
  // Metadata: read once per picture name through the show's files.
  if (!cache.read || cache.pictureName != main->ImageName()) {
    cache.read = true;
    cache.pictureName = main->ImageName();
    cache.exif = TExif{};
    cache.iptc = TIptcRecords{};
    if (TFileAccessor* accessor = host ? host->Accessor() : nullptr)
      if (TOwned<TStream> stream = Open(*accessor, cache.pictureName)) {
        const std::string head = ReadPictureHead(*stream);
        cache.exif.Read(head);
        cache.iptc.Read(head);
      }
  }
  if (macro == u"<%MainImg.Exif.Comment%>") return cache.exif.Field(kExifUserComment);
  if (macro == u"<%MainImg.Exif.Description%>") return cache.exif.Field(kExifImageDescription);
  if (macro == kExifDateTimeMacro) return cache.exif.Field(kExifDateTime);
  for (const auto& iptc : kIptc)
    if (macro == iptc.macro) return cache.iptc.First(iptc.dataset);
  return {};
}

std::u16string ExpandSlideText(const TKivObject& object, std::u16string_view text, TMacroMetadata& cache) {
  TMTParser parser([&object, &cache](const TMTParser&, std::u16string_view macro) {
    return SlideMacroValue(object, macro, cache);
  });
  return parser.Expand(text);
}

} // namespace kiv
