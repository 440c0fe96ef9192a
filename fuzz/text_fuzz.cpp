// Reads arbitrary bytes as text: the encoding found from the byte-order mark, the text in one piece and in
// reads of other sizes (which must agree), lines, and a position taken and gone back to.

#include "TextDecoders.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Every code unit the reader gives, in reads of `step` units; stops at the end or at a decoding error.
std::u16string ReadAll(kiv::TTextReader& reader, size_t step, bool& failed) {
  std::u16string text;
  std::vector<char16_t> buffer(step);
  failed = false;
  try {
    for (size_t n; (n = reader.Read(buffer.data(), 0, step)) > 0;)
      text.append(buffer.data(), n);
  } catch (const kiv::EReadError&) {
    failed = true;
  }
  return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  if (size < 1) return 0;
  const size_t step = 1 + data[0] % 7;
  const std::vector<uint8_t> bytes(data + 1, data + size);

  TMemoryStream whole(bytes);
  TOwned<TTextReader> reader = CreateTextReader(whole);
  if (!reader) __builtin_trap();
  bool wholeFailed = false;
  const std::u16string text = ReadAll(*reader, 65536, wholeFailed);

  TMemoryStream pieces(bytes);
  TOwned<TTextReader> stepper = CreateTextReader(pieces);
  if (!stepper || stepper->Kind() != reader->Kind()) __builtin_trap();
  bool piecesFailed = false;
  const std::u16string again = ReadAll(*stepper, step, piecesFailed);
  // A decoding error may drop the units decoded before it in the same read, so only texts read to their
  // end are compared. One-unit reads stop at a surrogate pair, which never fits them.
  if (!wholeFailed && !piecesFailed) {
    if (step > 1 && again != text) __builtin_trap();
    if (again.size() > text.size() || text.compare(0, again.size(), again) != 0) __builtin_trap();
  }

  // Going back to a position gives the same units again.
  if (!wholeFailed && text.size() >= 4) {
    TMemoryStream stream(bytes);
    TOwned<TTextReader> seeker = CreateTextReader(stream);
    const size_t skip = text.size() / 3;
    seeker->Skip(skip);
    const TTextPosition mark = seeker->GetPosition();
    char16_t first[3] = {}, second[3] = {};
    const size_t n = seeker->Read(first, 0, 3);
    seeker->SetPosition(mark);
    if (seeker->Read(second, 0, 3) != n || std::u16string_view(first, n) != std::u16string_view(second, n))
      __builtin_trap();
  }

  TMemoryStream lines(bytes);
  TOwned<TTextReader> lineReader = CreateTextReader(lines);
  TTextParser parser(*lineReader);
  try {
    while (parser.ReadLine()) {
      if (parser.Line().find_first_of(u"\r\n") != std::u16string_view::npos) __builtin_trap();
    }
  } catch (const EReadError&) {
  }
  return 0;
}
