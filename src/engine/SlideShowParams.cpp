#include "SlideShowParams.h"

namespace kiv {

TSlideShowParams::TSlideShowParams(TWorkerHost& host, std::string name, int64_t periodMs, int stepOrder,
                                   TKivSource& source, bool ownsSource, TSize desktop)
    : TKivThread(host, std::move(name), periodMs, stepOrder), Size(desktop), Caption(u"KivShow"),
      source_(&source) {
  if (ownsSource) ownedSource_.reset(&source);
}

TSlideShowParams::~TSlideShowParams() = default;

} // namespace kiv
