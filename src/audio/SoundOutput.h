#pragma once
// Sound output backends: each pulls the mixer at the output rate in its own way (SDL's audio callback, a
// worker that consumes real time, or frames advanced on command). A factory holds a small table of
// backends and opens the first that works; every player has its own factory, so tests put their own in.

#include "SoundMixer.h"
#include "WorkerThread.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

// An open backend; it pulls its mixer until destroyed.
class TSoundOutput {
public:
  virtual ~TSoundOutput() = default;
  // "sdl", "null", "offline".
  virtual std::string Name() const = 0;
};

// Opens a backend on a mixer; nullptr with whyNot set when it cannot. Workers it needs run on host.
using TSoundOutputOpener =
    std::function<std::unique_ptr<TSoundOutput>(TSoundMixer& mixer, TWorkerHost& host, std::string& whyNot)>;

struct TSoundBackend {
  std::string name;
  TSoundOutputOpener open;
};

class TSoundOutputFactory {
public:
  TSoundOutputFactory& Add(std::string name, TSoundOutputOpener open);
  // The first backend that opens, in table order; each failure is logged. nullptr when none opens.
  std::unique_ptr<TSoundOutput> Open(TSoundMixer& mixer, TWorkerHost& host) const;
  const std::vector<TSoundBackend>& Backends() const noexcept { return backends_; }

private:
  std::vector<TSoundBackend> backends_;
};

} // namespace kiv
