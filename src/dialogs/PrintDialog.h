#pragma once
// Printing and saving the current slide: the print dialog (Print, Save when the show allows it, Change
// Printer, Only Main Image), the image callback that answers it with the slide's main picture, the
// rendered slide or the main picture's file, and the page a picture is printed on.

#include "Dialog.h"
#include "Streams.h"

#include <functional>
#include <string>
#include <vector>

namespace kiv {

class TIniFile;
class TKivShowLocator;

enum TImageCallbackMode : int {
  kImageMainPicture = 0,  // the slide's main picture as a bitmap
  kImageRendered = 1,     // the rendered slide as a bitmap
  kImageMainFile = 2,     // the main picture's file, as bytes
};

// What the print dialog asks of the player. For kImageMainFile, fileName receives the picture's name
// (its extension ".bmp" when the picture was converted) and bytes its file.
struct TImageRequest {
  int mode = kImageRendered;
  int slideIndex = -1;
  std::u16string fileName;
  std::vector<uint8_t> bytes;
  TRef<TBitmap> bitmap;
};
using TImageCallback = std::function<bool(TImageRequest& request)>;

// The image callback over an open show: the rendered image of the current slide and its index (-1: none).
class TCallBackClass {
public:
  TCallBackClass(TKivShowLocator& locator, TRef<TBitmap> rendered, int slideIndex)
      : locator_(locator), rendered_(std::move(rendered)), slideIndex_(slideIndex) {}
  bool operator()(TImageRequest& request) const;
  TImageCallback AsCallback() const {
    return [this](TImageRequest& request) { return (*this)(request); };
  }

private:
  TKivShowLocator& locator_;
  TRef<TBitmap> rendered_;
  int slideIndex_;
};

// Where a picture goes on a page (points): scaled to the page keeping its proportions, centred.
struct TPagePlacement {
  double left, top, width, height;
};
TPagePlacement PlaceOnPage(int bitmapWidth, int bitmapHeight, double pageWidth, double pageHeight);
bool IsLandscape(int bitmapWidth, int bitmapHeight);

// Writes the picture as a one-page PDF titled "Slideshow": A4, landscape when it is wider than high.
bool WritePicturePdf(const TBitmap& picture, const std::string& path, std::string* error = nullptr);
// The picture as a 24-bit BMP file.
std::vector<uint8_t> EncodeBmp(const TBitmap& picture);

// The printers the dialog offers. The player's is CUPS; "Print to file (PDF)" is always there.
class TPrinterList {
public:
  static constexpr const char16_t* kPrintToFile = u"Print to file (PDF)";
  virtual ~TPrinterList() = default;
  virtual std::vector<std::u16string> Names() = 0;
  // Prints a PDF file on a printer of Names() (not the file entry). False when it could not be sent.
  virtual bool PrintFile(const std::u16string& printer, const std::string& pdf, bool landscape) = 0;
};
// Destinations of the CUPS server; none when there is no server.
std::unique_ptr<TPrinterList> MakeCupsPrinters();

// What the print dialog needs of the player besides the image: the printers, a runner for the dialogs it
// opens itself (choosing a printer, naming a file), and where "Print to file" and Save default to.
struct TPrintServices {
  TPrinterList* printers = nullptr;
  TDialogRunner* runner = nullptr;
  std::string defaultFolder; // the XDG pictures folder
};

class TKivPrintDialog final : public TDialog {
public:
  static constexpr int kChangePrinter = 1000, kPrint = 1001, kSave = 1002;

  TKivPrintDialog(const TIniFile& project, TImageCallback callback, TPrintServices services);

  TDialogCheckBox& OnlyMainImage() noexcept { return *onlyMain_; }
  bool CanSave() const noexcept { return canSave_; }
  // The printer chosen (empty: print to file).
  const std::u16string& Printer() const noexcept { return printer_; }
  void SetPrinter(std::u16string printer) { printer_ = std::move(printer); }
  // What the last Print or Save wrote: a PDF or the saved file; empty when nothing.
  const std::string& Written() const noexcept { return written_; }

  // The picture Print sends: the main picture when asked and available, else the rendered slide.
  TRef<TBitmap> PictureToPrint();
  void Print();
  void Save();

protected:
  void Command(int command) override;

private:
  std::string AskFileName(const std::u16string& suggested);

  TImageCallback callback_;
  TPrintServices services_;
  TDialogCheckBox* onlyMain_; // one of the items
  bool canSave_ = false;
  std::u16string printer_;
  std::string written_;
};

// The user's pictures folder (XDG_PICTURES_DIR of user-dirs.dirs, else ~/Pictures when it exists, else
// the home folder).
std::string XdgPicturesFolder();

// The print dialog for the current slide (rendered picture and index), run modally.
void ShowPrintDialog(TDialogRunner& runner, const TIniFile& project, const TImageCallback& callback,
                     TPrintServices services);

} // namespace kiv
