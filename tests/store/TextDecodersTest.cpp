// Encoding detection, decoding, buffer refills and line splitting.

#include "StoreTestUtil.h"

#include "TextDecoders.h"

#include <gtest/gtest.h>

using namespace kiv;
using namespace kivtest;

namespace {

struct TDecoded {
  TTextReaderKind kind;
  std::u16string text;
};

// Reads the whole text in reads of `chunk` code units.
TDecoded Decode(std::string_view bytes, size_t chunk = 4096) {
  TMemoryStream stream(Bytes(bytes));
  TOwned<TTextReader> reader = CreateTextReader(stream);
  std::u16string text;
  std::vector<char16_t> buffer(chunk);
  while (size_t n = reader->Read(buffer.data(), 0, chunk))
    text.append(buffer.data(), n);
  return {reader->Kind(), text};
}

struct TLine {
  std::u16string text;
  TLineBreak kind;
  bool operator==(const TLine&) const = default;
};

std::vector<TLine> SplitLines(std::string_view bytes) {
  TMemoryStream stream(Bytes(bytes));
  TOwned<TTextReader> reader = CreateTextReader(stream);
  TTextParser parser(*reader);
  std::vector<TLine> lines;
  while (parser.ReadLine()) {
    EXPECT_EQ(parser.LineNumber(), static_cast<int>(lines.size()));
    lines.push_back({std::u16string(parser.Line()), parser.LineBreak()});
  }
  return lines;
}

} // namespace

TEST(TextReader, DetectsEncodingFromTheMark) {
  using K = TTextReaderKind;
  struct Case {
    std::string bytes;
    K kind;
    std::u16string text;
  } cases[] = {
      {std::string("\xFF\xFE"
                   "a\0\xAC\x20",
                   6),
       K::Unicode, u"a\u20ac"},
      {std::string("\xFF\xFE"
                   "a\0b",
                   5),
       K::Unicode, u"a"}, // a trailing odd byte is ignored
      {std::string("\xFE\xFF\0a\x20\xAC", 6), K::UnicodeBE, u"a\u20ac"},
      {"\xEF\xBB\xBF"
       "a\xC3\xA9",
       K::UTF8, u"a\u00e9"},
      {"\xFF", K::Ansi, u"\u00ff"},
      {"\xFE", K::Ansi, u"\u00fe"},
      {"\xEF\xBB", K::Ansi, u"\u00ef\u00bb"},
      {"", K::Ansi, u""},
      // Without a mark: valid UTF-8 holding a multi-byte sequence reads as UTF-8, all else as Windows-1252.
      {"a\xC3\xA9", K::UTF8, u"a\u00e9"},
      {"\xF0\x9F\x98\x80!", K::UTF8, u"\U0001F600!"},
      {"plain", K::Ansi, u"plain"},
      {"caf\xE9", K::Ansi, u"caf\u00e9"},
      {"a\xC3", K::Ansi, u"a\u00c3"},                        // cut at the end
      {"\xC0\xA9", K::Ansi, u"\u00c0\u00a9"},                // overlong
      {"\xED\xA0\x80", K::Ansi, u"\u00ed\u00a0\u20ac"},    // a surrogate
      {"\xF4\x90\x80\x80", K::Ansi, u"\u00f4\u0090\u20ac\u20ac"}, // past U+10FFFF
      {"\xC3\xA9 \x80", K::Ansi, u"\u00c3\u00a9 \u20ac"},  // a stray continuation byte later on
  };
  for (const Case& c : cases) {
    TDecoded decoded = Decode(c.bytes);
    EXPECT_EQ(decoded.kind, c.kind) << A(c.text);
    EXPECT_EQ(decoded.text, c.text) << A(c.text);
  }
}

TEST(TextReader, MarkLessUtf8IsJudgedOnTheWholeText) {
  // The only multi-byte sequence straddles the first block read ahead; a bad byte far behind it still
  // makes the text Windows-1252.
  std::string text(65535, 'a');
  text += "\xC3\xA9";
  EXPECT_EQ(Decode(text).kind, TTextReaderKind::UTF8);
  EXPECT_EQ(Decode(text).text.back(), u'\u00e9');
  text += std::string(200000, 'b') + "\xE9";
  EXPECT_EQ(Decode(text).kind, TTextReaderKind::Ansi);
}

TEST(TextReader, Windows1252AsWindowsConvertsIt) {
  std::string all;
  for (int b = 0x80; b <= 0xFF; ++b)
    all.push_back(static_cast<char>(b));
  std::u16string text = Decode(all).text;
  ASSERT_EQ(text.size(), 128u);
  auto at = [&](int b) { return static_cast<uint16_t>(text[b - 0x80]); };
  EXPECT_EQ(at(0x80), 0x20AC);
  EXPECT_EQ(at(0x8A), 0x0160);
  EXPECT_EQ(at(0x9F), 0x0178);
  EXPECT_EQ(at(0x92), 0x2019);
  for (int undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(at(undefined), undefined);
  EXPECT_EQ(at(0xA0), 0x00A0);
  EXPECT_EQ(at(0xE9), 0x00E9);
}

TEST(TextReader, Utf8Sequences) {
  struct Case {
    std::string bytes;
    std::u16string text;
    const char* error = nullptr; // the message when the bytes are invalid
  } cases[] = {
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\xC0\x80", std::u16string(1, u'\0')}, // overlong forms decode as they are
      {"\xE0\x80\xC1", u"", "Invalid UTF-8 character"},
      {"\xF4\x90\x80\x80", u"", "Illegal char range for surrogates"},
      {"\xF8\x88\x80\x80\x80", u"", "Illegal char range for surrogates"},
      {"\x80", u"", "Invalid UTF-8 character"},
      {"\xFE", u"", "Invalid UTF-8 character"},
      {"\xFF", u"", "Invalid UTF-8 character"},
      {"\xC3\x28", u"", "Invalid UTF-8 character"},
      {"ab\xC3", u"", "Invalid UTF-8 character"}, // cut short by the end of the text
  };
  for (const Case& c : cases) {
    std::string bytes = "\xEF\xBB\xBF" + c.bytes;
    if (!c.error) {
      EXPECT_EQ(Decode(bytes).text, c.text);
      continue;
    }
    try {
      Decode(bytes);
      ADD_FAILURE() << "accepted invalid bytes";
    } catch (const EInvalidCharError& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
  }
}

TEST(TextReader, SequencesAndPairsAcrossTheBufferBoundary) {
  // The UTF-8 reader buffers 32 KiB from the start of the stream; the mark takes 3 bytes of the first fill.
  for (const char* sequence : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    for (size_t prefix = 32760; prefix <= 32768; ++prefix) {
      std::string bytes = "\xEF\xBB\xBF" + std::string(prefix - 3, 'a') + sequence + "z";
      std::u16string expected = std::u16string(prefix - 3, u'a') + U(sequence) + u"z";
      for (size_t chunk : {4096u, 4095u, 7u})
        EXPECT_EQ(Decode(bytes, chunk).text, expected) << prefix << " " << chunk;
    }
  }
  // UTF-16: a pair whose halves lie in two fills.
  for (size_t units = 16382; units <= 16385; ++units) {
    std::u16string expected = std::u16string(units, u'b') + u"\U0001F600" + u"c";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : expected)
      bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    EXPECT_EQ(Decode(bytes).text, expected) << units;
  }
}

TEST(TextReader, Utf8NeverSplitsAPairBetweenReads) {
  TMemoryStream stream(Bytes("\xEF\xBB\xBF"
                             "a\xF0\x9F\x98\x80"));
  TOwned<TTextReader> reader = CreateTextReader(stream);
  char16_t buffer[4] = {};
  EXPECT_EQ(reader->Read(buffer, 0, 2), 1u);
  EXPECT_EQ(reader->Read(buffer, 1, 1), 0u); // no room for the pair
  EXPECT_EQ(reader->Read(buffer, 1, 3), 2u);
  EXPECT_EQ(std::u16string(buffer, 3), u"a\U0001F600");
}

TEST(TextReader, PositionsReturnToTheSameText) {
  std::string bytes = "\xEF\xBB\xBF" + std::string(40000, 'x') + "\xC3\xA9" + std::string(100, 'y');
  TMemoryStream stream(Bytes(bytes));
  TOwned<TTextReader> reader = CreateTextReader(stream);
  reader->Skip(39990);
  TTextPosition position = reader->GetPosition();
  char16_t first[20], second[20];
  ASSERT_EQ(reader->Read(first, 0, 20), 20u);
  reader->SetPosition(position);
  ASSERT_EQ(reader->Read(second, 0, 20), 20u);
  EXPECT_EQ(std::u16string(first, 20), std::u16string(second, 20));
  EXPECT_EQ(first[10], u'\u00e9');
  position.kind = TTextReaderKind::Ansi;
  EXPECT_THROW(reader->SetPosition(position), EStreamError);
}

TEST(TextParser, SplitsAllFourLineBreakKinds) {
  using B = TLineBreak;
  struct Case {
    const char* bytes;
    std::vector<TLine> lines;
  } cases[] = {
      {"", {}},
      {"a", {{u"a", B::None}}},
      {"a\r\n", {{u"a", B::CRLF}}},
      {"a\r\rb", {{u"a", B::CR}, {u"", B::CR}, {u"b", B::None}}},
      {"a\n\nb", {{u"a", B::LF}, {u"", B::LF}, {u"b", B::None}}},
      {"a\n\rb\r\nc\rd\ne",
       {{u"a", B::LFCR}, {u"b", B::CRLF}, {u"c", B::CR}, {u"d", B::LF}, {u"e", B::None}}},
      {"\n", {{u"", B::LF}}},
      {"\r\n\r\n", {{u"", B::CRLF}, {u"", B::CRLF}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitLines(c.bytes), c.lines) << c.bytes;
}

TEST(TextParser, LinesBeforeAnInvalidSequenceAreParsedFirst) {
  // Whatever kind of bad sequence ends the text: a stray or impossible lead byte or a bad continuation.
  for (const char* bad : {"\xFF", "\x80", "\xFE", "\xC3\x28"}) {
    TMemoryStream stream(Bytes(std::string("\xEF\xBB\xBF") + "good line\r\nbad " + bad));
    TOwned<TTextReader> reader = CreateTextReader(stream);
    TTextParser parser(*reader);
    int lines = 0;
    bool failed = false;
    try {
      while (parser.ReadLine())
        ++lines;
    } catch (const EInvalidCharError&) {
      failed = true;
    }
    EXPECT_TRUE(failed) << A(U(bad));
    EXPECT_EQ(lines, 1) << A(U(bad));
  }
}

TEST(TextParser, BreakAndLineAcrossTheBufferRefill) {
  // The splitter holds 4096 code units: a CR LF and a long line that both straddle it.
  for (size_t first = 4094; first <= 4096; ++first) {
    std::string bytes = std::string(first, 'a') + "\r\n" + std::string(10000, 'b') + "\n\r";
    std::vector<TLine> expected = {{std::u16string(first, u'a'), TLineBreak::CRLF},
                                   {std::u16string(10000, u'b'), TLineBreak::LFCR}};
    EXPECT_EQ(SplitLines(bytes), expected) << first;
  }
}
