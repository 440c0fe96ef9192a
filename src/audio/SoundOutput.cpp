#include "SoundOutput.h"

#include "Log.h"

namespace kiv {

TSoundOutputFactory& TSoundOutputFactory::Add(std::string name, TSoundOutputOpener open) {
  backends_.push_back({std::move(name), std::move(open)});
  return *this;
}

std::unique_ptr<TSoundOutput> TSoundOutputFactory::Open(TSoundMixer& mixer, TWorkerHost& host) const {
  for (const TSoundBackend& backend : backends_) {
    std::string whyNot;
    LogLine("-> open sound output \"" + backend.name + "\"");
    std::unique_ptr<TSoundOutput> output = backend.open ? backend.open(mixer, host, whyNot) : nullptr;
    LogLine("<- open sound output \"" + backend.name + "\"");
    if (output) return output;
    LogLine("!!! sound output \"" + backend.name +
            "\" failed: " + (whyNot.empty() ? "no reason given" : whyNot));
  }
  return nullptr;
}

} // namespace kiv
