#include "PrintDialog.h"

#include "ImageFileIO.h"
#include "ImageLevels.h"
#include "IniDocument.h"
#include "Log.h"
#include "OpenedShow.h"
#include "Utf8Conversion.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/cups.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kiv {

namespace {

// A4 in points.
constexpr double kPageShort = 595.276, kPageLong = 841.89;

std::u16string LowerExtension(const std::u16string& name) {
  const size_t dot = name.rfind(u'.');
  const size_t slash = name.find_last_of(u"/\\");
  if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return {};
  std::u16string ext = name.substr(dot);
  for (char16_t& c : ext)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return ext;
}

TRef<TBitmap> DecodeShowPicture(TKivShowLocator& locator, const std::u16string& name) {
  TOwned<TStream> stream = Open(locator.Accessor(), name);
  if (!stream) return nullptr;
  TOwned<TImage> image = LoadImage(std::move(stream), name);
  if (!image) return nullptr;
  return image->GetMipLevel(0, TBitmapFormat::Pf32bit);
}

// A dialog with an edit field for a file name, OK and Cancel.
class TFileNameDialog final : public TDialog {
public:
  TFileNameDialog(std::u16string title, std::u16string initial) : TDialog(std::move(title), 360, 98) {
    Add<TDialogStatic>(TDialogRect{12, 12, 336, 16}, u"File name:");
    edit_ = &Add<TDialogEdit>(TDialogRect{12, 32, 336, 21}, false);
    edit_->SetText(std::move(initial));
    Add<TDialogButton>(TDialogRect{192, 62, 75, 25}, u"OK", 1, 0, true);
    Add<TDialogButton>(TDialogRect{273, 62, 75, 25}, u"Cancel", kCancelled);
    SetFocus(*edit_);
  }
  const std::u16string& Text() const { return edit_->Text(); }

private:
  TDialogEdit* edit_;
};

// One button per printer; the result is kFirstEntry + the chosen entry's index (Escape's result lies below).
class TPrinterChoiceDialog final : public TDialog {
public:
  static constexpr int kFirstEntry = 100;
  explicit TPrinterChoiceDialog(const std::vector<std::u16string>& names)
      : TDialog(u"Change Printer", 282, 12 + 31 * static_cast<int>(names.size()) + 37) {
    int top = 12;
    for (size_t i = 0; i < names.size(); ++i, top += 31)
      Add<TDialogButton>(TDialogRect{12, top, 258, 25}, names[i], kFirstEntry + static_cast<int>(i));
    Add<TDialogButton>(TDialogRect{195, top, 75, 25}, u"Cancel", kCancelled);
  }
};

class TCupsPrinters final : public TPrinterList {
public:
  std::vector<std::u16string> Names() override {
    std::vector<std::u16string> names;
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    for (int i = 0; i < count; ++i)
      names.push_back(Utf8ToUtf16(dests[i].name));
    cupsFreeDests(count, dests);
    return names;
  }
  bool PrintFile(const std::u16string& printer, const std::string& pdf, bool landscape) override {
    cups_option_t* options = nullptr;
    int count = 0;
    // The page is already turned; this only tells printers that choose by it.
    count = cupsAddOption("orientation-requested", landscape ? "4" : "3", count, &options);
    const int job = cupsPrintFile(Utf16ToUtf8(printer).c_str(), pdf.c_str(), "Slideshow", count, options);
    cupsFreeOptions(count, options);
    if (job == 0) LogLine(std::string("print: ") + cupsLastErrorString());
    return job != 0;
  }
};

} // namespace

// The image callback -----------------------------------------------------------------------------------

bool TCallBackClass::operator()(TImageRequest& request) const {
  const TIniFile* project = locator_.Project();
  if (!project) return false;
  std::u16string name;
  if (slideIndex_ >= 0) {
    name = project->ReadString(u"slide" + Utf8ToUtf16(std::to_string(slideIndex_ + 1)), u"picture", u"");
    request.slideIndex = slideIndex_;
  }
  request.fileName = name;
  try {
    switch (request.mode) {
    case kImageMainPicture:
      if (name.empty()) return false;
      request.bitmap = DecodeShowPicture(locator_, name);
      return static_cast<bool>(request.bitmap);
    case kImageRendered:
      request.bitmap = rendered_;
      return static_cast<bool>(rendered_);
    case kImageMainFile: {
      if (name.empty()) return false;
      const std::u16string ext = LowerExtension(name);
      if (ext == u".jpg" || ext == u".jpeg" || ext == u".jpe" || ext == u".jfif") {
        TOwned<TStream> stream = Open(locator_.Accessor(), name);
        return stream && ReadRest(*stream, request.bytes);
      }
      TRef<TBitmap> picture = DecodeShowPicture(locator_, name);
      if (!picture) return false;
      request.bytes = EncodeBmp(*picture);
      request.fileName = name.substr(0, name.size() - ext.size()) + u".bmp";
      return true;
    }
    default:
      return false;
    }
  } catch (const std::exception& error) {
    LogLine(std::string("print image: ") + error.what());
    return false;
  }
}

// Pages and files -----------------------------------------------------------------------------------

bool IsLandscape(int bitmapWidth, int bitmapHeight) { return bitmapWidth > bitmapHeight; }

TPagePlacement PlaceOnPage(int bitmapWidth, int bitmapHeight, double pageWidth, double pageHeight) {
  TPagePlacement p{};
  if (bitmapWidth <= 0 || bitmapHeight <= 0) return p;
  p.width = bitmapWidth * pageHeight / bitmapHeight;
  if (p.width < pageWidth) {
    p.height = pageHeight;
  } else {
    p.width = pageWidth;
    p.height = bitmapHeight * pageWidth / bitmapWidth;
  }
  p.left = (pageWidth - p.width) / 2;
  p.top = (pageHeight - p.height) / 2;
  return p;
}

bool WritePicturePdf(const TBitmap& picture, const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (picture.Width() <= 0 || picture.Height() <= 0) return fail("the picture is empty");
  const bool landscape = IsLandscape(picture.Width(), picture.Height());
  const double pageWidth = landscape ? kPageLong : kPageShort, pageHeight = landscape ? kPageShort : kPageLong;
  const std::string part = path + ".part";
  cairo_surface_t* pdf = cairo_pdf_surface_create(part.c_str(), pageWidth, pageHeight);
  if (cairo_surface_status(pdf) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(pdf);
    return fail("cannot write " + path);
  }
  cairo_pdf_surface_set_metadata(pdf, CAIRO_PDF_METADATA_TITLE, "Slideshow");
  // Cairo's RGB24 is the same 0x00RRGGBB word per pixel as ours, with its own stride.
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, picture.Width());
  std::vector<uint8_t> pixels(static_cast<size_t>(stride) * static_cast<size_t>(picture.Height()));
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const uint32_t argb = picture.Pixel32(x, y) | 0xFF000000u;
      std::memcpy(pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(stride) + 4 * static_cast<size_t>(x), &argb, 4);
    }
  cairo_surface_t* image = cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_RGB24, picture.Width(),
                                                               picture.Height(), stride);
  const TPagePlacement place = PlaceOnPage(picture.Width(), picture.Height(), pageWidth, pageHeight);
  cairo_t* cr = cairo_create(pdf);
  cairo_translate(cr, place.left, place.top);
  cairo_scale(cr, place.width / picture.Width(), place.height / picture.Height());
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_show_page(cr);
  const cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(image);
  cairo_surface_finish(pdf);
  const cairo_status_t finished = cairo_surface_status(pdf);
  cairo_surface_destroy(pdf);
  std::error_code ec;
  if (status != CAIRO_STATUS_SUCCESS || finished != CAIRO_STATUS_SUCCESS) {
    std::filesystem::remove(part, ec);
    return fail("cannot write " + path + ": " + cairo_status_to_string(status != CAIRO_STATUS_SUCCESS ? status : finished));
  }
  std::filesystem::rename(part, path, ec);
  if (ec) {
    std::filesystem::remove(part, ec);
    return fail("cannot write " + path);
  }
  return true;
}

std::vector<uint8_t> EncodeBmp(const TBitmap& picture) {
  const uint32_t w = static_cast<uint32_t>(std::max(0, picture.Width()));
  const uint32_t h = static_cast<uint32_t>(std::max(0, picture.Height()));
  const uint32_t row = (w * 3 + 3) & ~3u;
  const uint32_t data = row * h;
  std::vector<uint8_t> out;
  out.reserve(54 + data);
  auto put = [&out](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
      out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  out.push_back('B');
  out.push_back('M');
  put(54 + data, 4);
  put(0, 4);
  put(54, 4);
  put(40, 4);
  put(w, 4);
  put(h, 4);
  put(1, 2);
  put(24, 2);
  put(0, 4);
  put(data, 4);
  put(2835, 4);
  put(2835, 4);
  put(0, 4);
  put(0, 4);
  for (int y = static_cast<int>(h) - 1; y >= 0; --y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t p = picture.Pixel32(static_cast<int>(x), y);
      out.push_back(static_cast<uint8_t>(p));
      out.push_back(static_cast<uint8_t>(p >> 8));
      out.push_back(static_cast<uint8_t>(p >> 16));
    }
    for (uint32_t pad = w * 3; pad < row; ++pad)
      out.push_back(0);
  }
  return out;
}

std::unique_ptr<TPrinterList> MakeCupsPrinters() { return std::make_unique<TCupsPrinters>(); }

// The dialog -------------------------------------------------------------------------------------------

TKivPrintDialog::TKivPrintDialog(const TIniFile& project, TImageCallback callback, TPrintServices services)
    : TDialog(project.ReadString(u"main", u"opt_lng_print_caption", u"Print"), 282, 86),
      callback_(std::move(callback)), services_(std::move(services)) {
  canSave_ = project.ReadBool(u"main", u"CanRestore", false);
  Add<TDialogButton>(TDialogRect{12, 12, 125, 25}, project.ReadString(u"main", u"opt_lng_print_button5", u"Print"), 0,
                     kPrint, true);
  if (canSave_)
    Add<TDialogButton>(TDialogRect{145, 12, 125, 25}, project.ReadString(u"main", u"opt_lng_print_button6", u"Save"), 0,
                       kSave);
  onlyMain_ = &Add<TDialogCheckBox>(TDialogRect{145, 49, 125, 25},
                                    project.ReadString(u"main", u"opt_lng_print_button7", u"Only Main Image"));
  Add<TDialogButton>(TDialogRect{12, 49, 125, 25}, project.ReadString(u"main", u"opt_lng_print_label", u"Change Printer"),
                     0, kChangePrinter);
  if (services_.printers) {
    const std::vector<std::u16string> names = services_.printers->Names();
    if (!names.empty()) printer_ = names.front();
  }
}

void TKivPrintDialog::Command(int command) {
  switch (command) {
  case kChangePrinter: {
    if (!services_.runner) return;
    std::vector<std::u16string> names = services_.printers ? services_.printers->Names() : std::vector<std::u16string>{};
    names.emplace_back(TPrinterList::kPrintToFile);
    TPrinterChoiceDialog choice(names);
    const int chosen = services_.runner->Run(choice) - TPrinterChoiceDialog::kFirstEntry;
    if (chosen >= 0 && chosen < static_cast<int>(names.size()))
      printer_ = chosen + 1 == static_cast<int>(names.size()) ? std::u16string() : names[static_cast<size_t>(chosen)];
    return;
  }
  case kPrint:
    Print();
    End(kPrint);
    return;
  case kSave:
    if (canSave_) Save();
    End(kSave);
    return;
  default:
    return;
  }
}

TRef<TBitmap> TKivPrintDialog::PictureToPrint() {
  if (!callback_) return nullptr;
  if (onlyMain_->Checked()) {
    TImageRequest main;
    main.mode = kImageMainPicture;
    if (callback_(main) && main.bitmap) return main.bitmap;
  }
  TImageRequest rendered;
  rendered.mode = kImageRendered;
  if (callback_(rendered) && rendered.bitmap) return rendered.bitmap;
  return nullptr;
}

std::string TKivPrintDialog::AskFileName(const std::u16string& suggested) {
  const std::string folder = services_.defaultFolder.empty() ? std::string(".") : services_.defaultFolder;
  const std::u16string initial = Utf8ToUtf16((std::filesystem::path(folder) / Utf16ToUtf8(suggested)).string());
  if (!services_.runner) return Utf16ToUtf8(initial);
  TFileNameDialog dialog(Title(), initial);
  if (services_.runner->Run(dialog) != 1 || dialog.Text().empty()) return {};
  return Utf16ToUtf8(dialog.Text());
}

void TKivPrintDialog::Print() {
  written_.clear();
  TRef<TBitmap> picture = PictureToPrint();
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return;
  std::string error;
  if (printer_.empty() || !services_.printers) {
    const std::string path = AskFileName(u"Slideshow.pdf");
    if (path.empty()) return;
    if (WritePicturePdf(*picture, path, &error))
      written_ = path;
    else
      LogLine("print: " + error);
    return;
  }
  // The page goes through a folder of our own: a fixed name in the shared temporary folder could be a
  // link planted by someone else, which the PDF writer would follow.
  std::string folder = (std::filesystem::temp_directory_path() / "kivviewer-print-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    LogLine("print: no temporary folder for the page: " + std::string(std::strerror(errno)));
    return;
  }
  const std::string pdf = folder + "/Slideshow.pdf";
  if (WritePicturePdf(*picture, pdf, &error)) {
    if (services_.printers->PrintFile(printer_, pdf, IsLandscape(picture->Width(), picture->Height()))) written_ = pdf;
  } else {
    LogLine("print: " + error);
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

void TKivPrintDialog::Save() {
  written_.clear();
  if (!callback_) return;
  std::vector<uint8_t> bytes;
  std::u16string name;
  if (onlyMain_->Checked()) {
    TImageRequest file;
    file.mode = kImageMainFile;
    if (callback_(file) && !file.fileName.empty()) {
      bytes = std::move(file.bytes);
      const size_t slash = file.fileName.find_last_of(u"/\\");
      name = slash == std::u16string::npos ? file.fileName : file.fileName.substr(slash + 1);
    }
  }
  if (name.empty()) {
    TImageRequest rendered;
    rendered.mode = kImageRendered;
    if (!callback_(rendered) || !rendered.bitmap || rendered.bitmap->Width() <= 0 || rendered.bitmap->Height() <= 0)
      return;
    bytes = EncodeBmp(*rendered.bitmap);
    name = u"Slide" + Utf8ToUtf16(std::to_string(rendered.slideIndex + 1)) + u".bmp";
  }
  const std::string path = AskFileName(name);
  if (path.empty()) return;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (out) written_ = path;
}

std::string XdgPicturesFolder() {
  const char* homeVar = std::getenv("HOME");
  const std::string home = homeVar && *homeVar ? homeVar : ".";
  const char* configVar = std::getenv("XDG_CONFIG_HOME");
  const std::string config = configVar && *configVar ? configVar : home + "/.config";
  std::ifstream dirs(config + "/user-dirs.dirs");
  for (std::string line; std::getline(dirs, line);) {
    const std::string key = "XDG_PICTURES_DIR=\"";
    if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"') continue;
    std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (!value.empty() && value.front() == '/') return value;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(home + "/Pictures", ec)) return home + "/Pictures";
  return home;
}

void ShowPrintDialog(TDialogRunner& runner, const TIniFile& project, const TImageCallback& callback,
                     TPrintServices services) {
  if (!services.runner) services.runner = &runner;
  TKivPrintDialog dialog(project, callback, std::move(services));
  runner.Run(dialog);
}

} // namespace kiv
