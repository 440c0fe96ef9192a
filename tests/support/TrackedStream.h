#pragma once
// A memory stream that says when it is destroyed, and can be told to fail its clean-up or its seeks: for
// the tests of who frees a stream handed over, and of destructors that must not throw.

#include "Streams.h"

#include <stdexcept>
#include <vector>

namespace kivtest {

struct TTrackedStreamOptions {
  bool failDispose = false; // Dispose throws, so TObj::Free raises after freeing
  bool failSeek = false;    // SetPosition raises EStreamError
};

class TTrackedStream : public kiv::TMemoryStream {
public:
  using TOptions = TTrackedStreamOptions;

  explicit TTrackedStream(int& destroyed, TOptions options = {}, std::vector<uint8_t> data = {})
      : TMemoryStream(std::move(data)), destroyed_(destroyed), options_(options) {}
  ~TTrackedStream() override { ++destroyed_; }

  void SetPosition(int64_t position) override {
    if (options_.failSeek) throw kiv::EStreamError("seek refused");
    TMemoryStream::SetPosition(position);
  }

protected:
  void Dispose() override {
    if (options_.failDispose) throw std::runtime_error("clean-up failed");
  }

private:
  int& destroyed_;
  TOptions options_;
};

} // namespace kivtest
