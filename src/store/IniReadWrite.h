#pragma once
// Text to document tree (TIniParser) and document tree to text (TTextWriter, TIniSaver).

#include "IniDocument.h"
#include "TextDecoders.h"

#include <string_view>
#include <vector>

namespace kiv {

// Classifies each line of the text and builds the tree into a document.
class TIniParser : public TTextParser {
public:
  TIniParser(TTextReader& reader, TIniFile& document) : TTextParser(reader), document_(document) {}

  // Parses the whole text. Errors go to the document's notification; an EIniParseError from it stops the
  // parse (after one more notification with its code) and is raised again. Reader errors propagate.
  void Parse();

private:
  void ParseLine(std::u16string_view line);
  void Report(int code);

  TIniFile& document_;
  TIniIdentList* current_ = nullptr;           // the container new lines go into
  std::vector<TIniIdentList*> openContainers_; // enclosing containers of the open objects
  size_t firstNonBlank_ = 0;                   // 0-based index in the current line
};

// Writes text to a stream (not owned). Bytes are collected in a 32 KiB buffer and handed to the stream
// when it is nearly full, on Flush and when the writer is destroyed.
class TTextWriter : public TObj {
public:
  explicit TTextWriter(TStream& stream);
  ~TTextWriter() override;

  virtual void WriteString(std::u16string_view text) = 0;
  void WriteLineEnd(TLineBreak kind);
  void WriteLine(std::u16string_view text, TLineBreak kind = TLineBreak::CRLF);
  // Raises EWriteError when the stream takes fewer bytes.
  void Flush();

protected:
  virtual void WriteChar(char16_t c) = 0;
  void Put(const uint8_t* data, size_t count);
  void Reserve(size_t count) {
    if (used_ + count > buffer_.size()) Flush();
  }

  std::vector<uint8_t> buffer_;
  size_t used_ = 0;

private:
  TStream& stream_;
};

// UTF-16 LE; writes FF FE when created.
class TUnicodeWriter : public TTextWriter {
public:
  explicit TUnicodeWriter(TStream& stream);
  void WriteString(std::u16string_view text) override;

protected:
  void WriteChar(char16_t c) override;
};

// UTF-8; writes EF BB BF when created. A high surrogate followed by anything but a low one raises
// EInvalidCharError; an unpaired surrogate at the end of a string is written in its own 3-byte form.
class TUTF8Writer : public TTextWriter {
public:
  explicit TUTF8Writer(TStream& stream);
  void WriteString(std::u16string_view text) override;

protected:
  void WriteChar(char16_t c) override;
};

// The line sink of a document save: UTF-8 with a mark, every line ended by CR LF.
class TIniSaver : public TIniLineSink {
public:
  explicit TIniSaver(TStream& stream) : writer_(stream) {}
  void WriteLine(std::u16string_view text) override { writer_.WriteLine(text, TLineBreak::CRLF); }
  void WriteEmptyLine() override { writer_.WriteLineEnd(TLineBreak::CRLF); }
  void Flush() { writer_.Flush(); }

private:
  TUTF8Writer writer_;
};

} // namespace kiv
