#pragma once
// Project documents written in the test, and an accessor over plain files for the sources made on them.

#include "IniDocument.h"
#include "ShowFileAccess.h"
#include "Streams.h"

#include <memory>
#include <string>
#include <vector>

namespace kiv::test {

inline std::unique_ptr<TIniFile> Document(const std::string& text) {
  auto document = std::make_unique<TIniFile>();
  TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
  document->LoadFromStream(stream);
  return document;
}

inline TRef<TFileAccessor> PlainAccessor() {
  return TRef<TFileAccessor>::Make(TRef<TFileSource>(TRef<TRealFileSource>::Make()), "/tmp/");
}

} // namespace kiv::test
