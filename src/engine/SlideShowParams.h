#pragma once
// TSlideShowParams: the window a show asks for (slide area, caption, border) and the show it belongs to.
// The slide loader derives from it; the engine reads it to size the window and lay slides out.

#include "DeviceLayer.h"
#include "IniDocument.h"
#include "ShowTimeline.h"
#include "WorkerThread.h"

#include <string>

namespace kiv {

// The desktop a show is laid out for when nobody says otherwise (no display: export, tests).
inline constexpr TSize kHeadlessDesktopSize{1920, 1080};

class TSlideShowParams : public TKivThread {
public:
  // The slide area starts as the desktop size and the caption as "KivShow". An owned source is freed with
  // the worker, after everything a derived class built on it (also when its construction fails).
  TSlideShowParams(TWorkerHost& host, std::string name, int64_t periodMs, int stepOrder, TKivSource& source,
                   bool ownsSource, TSize desktop);
  ~TSlideShowParams() override;

  // The fields below are written at creation and by the engine before it starts the worker; read-only
  // while the worker runs.

  // The slide area in pixels.
  TSize Size;
  std::u16string Caption;
  // A windowed show with a frame.
  bool HasBorder = false;

  TKivSource& Source() const noexcept { return *source_; }
  bool OwnsSource() const noexcept { return ownedSource_ != nullptr; }
  TIniFile& Project() const noexcept { return source_->Document(); }

private:
  TKivSource* source_;
  TOwned<TKivSource> ownedSource_; // set when the worker owns the source
};

} // namespace kiv
