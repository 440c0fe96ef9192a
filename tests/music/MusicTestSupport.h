#pragma once
// Project documents written in the test, the music description made from them, and composite texts read
// back through the INI reader the way a player of composites reads them.

#include "Assert.h"
#include "IniDocument.h"
#include "IniLineText.h"
#include "ShowFileAccess.h"
#include "ShowMusicSource.h"
#include "ShowTimeline.h"
#include "Streams.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <functional>
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

// A show source over a project text; files are never opened by the music description.
inline std::unique_ptr<TKivSource> Source(const std::string& text) {
  auto accessor = TRef<TFileAccessor>::Make(TRef<TFileSource>(TRef<TRealFileSource>::Make()), "/tmp/");
  return std::make_unique<TKivSource>(std::move(accessor), Document(text));
}

struct TShow {
  std::unique_ptr<TKivSource> source;
  std::unique_ptr<TKivMusicSource> music;
};

inline TShow MakeShow(const std::string& text) {
  TShow show;
  show.source = Source(text);
  show.music = std::make_unique<TKivMusicSource>(show.source.get());
  return show;
}

struct TReadPoint {
  double time = 0;
  double volume = 0;
  bool operator==(const TReadPoint&) const = default;
};
using TReadEnvelope = std::vector<TReadPoint>;

struct TReadMember {
  std::string fileName;
  double timeLine = 0;
  double beginTime = 0;
  double duration = 0;
  std::vector<TReadEnvelope> envelopes;
};

struct TReadComposite {
  bool parsed = false;
  double duration = 0;
  std::vector<TReadMember> members;
  std::vector<TReadEnvelope> mainEnvelopes;
};

inline std::u16string U(const std::string& text) {
  return Utf8ToUtf16(text);
}

// Envelopes as a composite reader finds them: "FadeCount" in the owner, points until key "1" is missing.
inline std::vector<TReadEnvelope> ReadEnvelopes(const TIniStorage& document, const std::string& owner,
                                                const std::string& prefix) {
  std::vector<TReadEnvelope> envelopes;
  const int count = document.ReadInteger(U(owner), u"FadeCount", 0);
  for (int k = 0; k < count; ++k) {
    TReadEnvelope points;
    for (int j = 0;; ++j) {
      const std::u16string section = U(prefix + std::to_string(k) + "_" + std::to_string(j));
      const double volume = document.ReadFloat(section, u"1", -1);
      if (volume == -1) break;
      points.push_back({document.ReadFloat(section, u"0", 0), volume});
    }
    envelopes.push_back(points);
  }
  return envelopes;
}

// One composite text (with its mark) read back member by member.
inline TReadComposite ReadComposite(const std::u16string& text) {
  TReadComposite composite;
  if (!IsCompositeText(text)) return composite;
  TIniFile document;
  if (!TIni2Str::FromLine(std::u16string_view(text).substr(kCompositeMark.size()), document))
    return composite;
  composite.parsed = true;
  composite.duration = document.ReadFloat(u"Main", u"Duration", 0);
  for (int m = 0;; ++m) {
    const std::string section = std::to_string(m);
    const std::u16string fileName = document.ReadString(U(section), u"FileName", u"");
    if (fileName.empty()) break;
    TReadMember member;
    member.fileName = Utf16ToUtf8(fileName);
    member.timeLine = document.ReadFloat(U(section), u"TimeLine", -1);
    member.beginTime = document.ReadFloat(U(section), u"BeginTime", -1);
    member.duration = document.ReadFloat(U(section), u"Duration", -1);
    member.envelopes = ReadEnvelopes(document, section, "Vol_" + section + "_");
    composite.members.push_back(member);
  }
  composite.mainEnvelopes = ReadEnvelopes(document, "MainVolume", "Vol_MainVolume_");
  return composite;
}

// The one composite of the main play list.
inline TReadComposite MainComposite(const TKivMusicSource& music) {
  if (!music.MainPlayList() || music.MainPlayList()->Count() != 1) return {};
  return ReadComposite(music.MainPlayList()->Item(0).fileName);
}

// The message of the assertion an operation raises; "" when it raises none.
inline std::string AssertionOf(const std::function<void()>& operation) {
  const TAssertionSink previous = SetAssertionSink([](const std::string&) {});
  std::string message;
  try {
    operation();
  } catch (const EAssertion& e) {
    message = e.what();
  }
  SetAssertionSink(previous);
  return message;
}

} // namespace kiv::test
