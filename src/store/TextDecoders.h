#pragma once
// Text readers: detect the encoding of a byte stream from its byte-order mark and hand out UTF-16 code
// units; and the line splitter on top of them.

#include "Exceptions.h"
#include "ObjectBase.h"
#include "Streams.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// A byte sequence that is not valid in the text's encoding.
class EInvalidCharError : public EReadError {
public:
  using EReadError::EReadError;
};

enum class TTextReaderKind { Unicode, UnicodeBE, UTF8, Ansi };

// Where a reader stands: the stream offset of its buffered data and the code units already delivered
// from it. Only the reader kind that made it can go back to it.
struct TTextPosition {
  TTextReaderKind kind = TTextReaderKind::Ansi;
  int64_t streamOffset = 0;
  int64_t delivered = 0;
};

// Reads UTF-16 code units from a seekable stream (not owned) positioned after the byte-order mark.
class TTextReader : public TObj {
public:
  explicit TTextReader(TStream& stream, size_t bufferBytes);

  virtual TTextReaderKind Kind() const noexcept = 0;
  // Up to count code units into buffer[index..]; fewer only at the end of the stream.
  size_t Read(char16_t* buffer, size_t index, size_t count);
  // Reads and discards count code units.
  void Skip(size_t count);
  TTextPosition GetPosition() const;
  // Raises EStreamError for a position made by another kind of reader.
  void SetPosition(const TTextPosition& position);

protected:
  // Decodes from bytes_[byteIndex_..byteCount_) into out and returns the number of code units written.
  // Leaves an incomplete sequence at the end unconsumed (more bytes are needed); sets needRoom_ when it
  // wrote nothing because a surrogate pair does not fit into count.
  virtual size_t Decode(char16_t* out, size_t count) = 0;
  // Bytes of an incomplete sequence at the end of the data that cannot ever complete are an error
  // (UTF-8); the default ignores them (a trailing odd byte of UTF-16).
  virtual void AtEndWithPartial() {}

  // Moves the unconsumed bytes to the front and appends what the stream gives; false at the end.
  bool Refill();

  TStream& stream_;
  std::vector<uint8_t> bytes_;
  size_t byteIndex_ = 0;
  size_t byteCount_ = 0;
  bool needRoom_ = false;
  const char* pendingError_ = nullptr; // a decoding error raised on the next Decode

private:
  int64_t bufferOffset_ = 0;      // stream offset of bytes_[0]
  int64_t deliveredInBuffer_ = 0; // code units handed out since bytes_[0]
  bool atEnd_ = false;
};

class TUnicodeReader : public TTextReader {
public:
  explicit TUnicodeReader(TStream& stream) : TTextReader(stream, 32768) {}
  TTextReaderKind Kind() const noexcept override { return TTextReaderKind::Unicode; }

protected:
  size_t Decode(char16_t* out, size_t count) override;
};

class TUnicodeBEReader : public TTextReader {
public:
  explicit TUnicodeBEReader(TStream& stream) : TTextReader(stream, 32768) {}
  TTextReaderKind Kind() const noexcept override { return TTextReaderKind::UnicodeBE; }

protected:
  size_t Decode(char16_t* out, size_t count) override;
};

class TUTF8Reader : public TTextReader {
public:
  explicit TUTF8Reader(TStream& stream) : TTextReader(stream, 32768) {}
  TTextReaderKind Kind() const noexcept override { return TTextReaderKind::UTF8; }

protected:
  size_t Decode(char16_t* out, size_t count) override;
  void AtEndWithPartial() override;

private:
  // Raises now when nothing was decoded yet, otherwise on the next call.
  void Fail(size_t delivered, const char* message);
};

// A second-byte table of a double-byte code page's lead byte.
struct TDBCSInfo {
  std::array<char16_t, 256> chars{};
};

// The ANSI code page: what each byte converts to, and the tables of lead bytes where the page has any.
// Windows-1252 here, as Windows converts it (the five undefined bytes become the C1 controls of the
// same value).
class TAnsiCodePage {
public:
  static const TAnsiCodePage& Current();

  char16_t ByteToChar(uint8_t b) const noexcept { return single_[b]; }
  const TDBCSInfo* LeadTable(uint8_t b) const noexcept { return lead_[b].get(); }
  bool HasLeadBytes() const noexcept { return hasLeadBytes_; }

private:
  TAnsiCodePage();
  std::array<char16_t, 256> single_{};
  std::array<std::unique_ptr<TDBCSInfo>, 256> lead_{};
  bool hasLeadBytes_ = false;
};

class TAnsiReader : public TTextReader {
public:
  explicit TAnsiReader(TStream& stream) : TTextReader(stream, 4096), page_(TAnsiCodePage::Current()) {}
  TTextReaderKind Kind() const noexcept override { return TTextReaderKind::Ansi; }

protected:
  size_t Decode(char16_t* out, size_t count) override;

private:
  const TAnsiCodePage& page_;
};

// Tries the reader kinds in order (UTF-16 LE, UTF-16 BE, UTF-8, ANSI) at the stream's position; the first
// that accepts consumes its mark and reads the rest. Text without a mark is read as UTF-8 when all of it is
// valid UTF-8 holding at least one multi-byte sequence (as editors on Linux write it; Windows-1252 text is
// almost never that), otherwise as ANSI. Always succeeds.
TOwned<TTextReader> CreateTextReader(TStream& stream);

// Whether the stream from its position to its end is valid UTF-8 with at least one multi-byte sequence.
// Reads ahead in blocks, stops at the first invalid byte and restores the position.
bool IsMultiByteUtf8(TStream& stream);

enum class TLineBreak : uint8_t {
  LF = 0,
  CR = 1,
  LFCR = 2,
  CRLF = 3,
  None = 4, // end of text
};

// Splits the reader's text into lines. A text ending with a line break has no empty line after it.
class TTextParser : public TObj {
public:
  explicit TTextParser(TTextReader& reader) : reader_(reader) {}

  // Reads the next line; false when there is none.
  bool ReadLine();
  // The current line; valid until the next ReadLine.
  std::u16string_view Line() const noexcept { return line_; }
  // Number of the current line, from 0.
  int LineNumber() const noexcept { return lineNumber_; }
  TLineBreak LineBreak() const noexcept { return break_; }

private:
  bool FillBuffer();

  static constexpr size_t kBufferUnits = 4096;
  TTextReader& reader_;
  std::array<char16_t, kBufferUnits> buffer_{};
  size_t pos_ = 0;
  size_t count_ = 0;
  std::u16string line_; // reused: keeps its capacity from line to line
  int lineNumber_ = -1;
  TLineBreak break_ = TLineBreak::None;
};

} // namespace kiv
