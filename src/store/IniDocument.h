#pragma once
// The in-memory form of a description document: an ordered tree of line items that keeps every line
// (comments, blank lines, lines it does not understand), so that a document can be queried, edited and
// written back with everything untouched left exactly as it was.
//
// Positions inside a line are 1-based UTF-16 code unit indices.

#include "Exceptions.h"
#include "ObjectBase.h"
#include "Streams.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TIniCollection;
class TIniIdentList;
class TIniStorage;
class TIniFile;

// Where WriteTo puts the text of a document, one line at a time, in document order.
class TIniLineSink {
public:
  virtual ~TIniLineSink() = default;
  virtual void WriteLine(std::u16string_view text) = 0;
  virtual void WriteEmptyLine() = 0;
};

// A line sink collecting plain strings (an empty line becomes an empty string).
class TIniStringsSink : public TIniLineSink {
public:
  explicit TIniStringsSink(std::vector<std::u16string>& lines) : lines_(lines) {}
  void WriteLine(std::u16string_view text) override { lines_.emplace_back(text); }
  void WriteEmptyLine() override { lines_.emplace_back(); }

private:
  std::vector<std::u16string>& lines_;
};

// Any node of the tree. A collection owns its children through the sibling chain: each item owns the
// next one, the collection owns the first.
class TCommonIniItem : public TObj {
public:
  ~TCommonIniItem() override;

  TIniCollection* Owner() const noexcept { return owner_; }
  TCommonIniItem* Prev() const noexcept { return prev_; }
  TCommonIniItem* Next() const noexcept { return next_.get(); }

  // Leaves fail with the assertion "<class> cann`t has subitems".
  virtual TCommonIniItem* AddChild(TOwned<TCommonIniItem> item);
  virtual TOwned<TCommonIniItem> RemoveChild(TCommonIniItem* item);

  // Appends this node's lines (with a collection: its whole subtree) to the sink.
  virtual void WriteTo(TIniLineSink& lines) const;

  // Detaches from the current owner and appends to newOwner's children (entering its index).
  void SetOwner(TIniCollection& newOwner);

  // A deep copy appended to owner.
  virtual TCommonIniItem* Clone(TIniCollection& owner) const;

  // A copy of this node alone (no children), not attached anywhere.
  virtual TOwned<TCommonIniItem> CloneSelf() const = 0;
  // The node's own line (a collection's header); nothing for the document.
  virtual void WriteOwnLine(TIniLineSink& lines) const = 0;

  virtual TIniCollection* AsCollection() noexcept { return nullptr; }
  const TIniCollection* AsCollection() const noexcept {
    return const_cast<TCommonIniItem*>(this)->AsCollection();
  }

protected:
  TCommonIniItem() = default;
  // Called after the item was linked into owner_'s children, and before it is unlinked: key and section
  // nodes keep their owner's index up to date here.
  virtual void Attached() {}
  virtual void Detaching() {}

private:
  friend class TIniCollection;
  TIniCollection* owner_ = nullptr;
  TCommonIniItem* prev_ = nullptr;
  TOwned<TCommonIniItem> next_;
};

// A node with children.
class TIniCollection : public TCommonIniItem {
public:
  ~TIniCollection() override;

  TCommonIniItem* FirstChild() const noexcept { return first_.get(); }
  TCommonIniItem* LastChild() const noexcept { return last_; }
  bool IsEmpty() const noexcept { return first_ == nullptr; }

  TCommonIniItem* AddChild(TOwned<TCommonIniItem> item) override;
  TOwned<TCommonIniItem> RemoveChild(TCommonIniItem* item) override;
  // Inserts item after `after` (nullptr: as the first child).
  TCommonIniItem* InsertChild(TOwned<TCommonIniItem> item, TCommonIniItem* after);
  // Unlinks and destroys one child.
  void DeleteChild(TCommonIniItem* item);

  // Destroys all children, last first.
  virtual void Clear();
  // Clear, then a deep copy of every child of source, in order.
  virtual void AssignChildren(const TIniCollection& source);

  void WriteTo(TIniLineSink& lines) const override;
  TCommonIniItem* Clone(TIniCollection& owner) const override;

  TIniCollection* AsCollection() noexcept override { return this; }
  virtual TIniIdentList* AsIdentList() noexcept { return nullptr; }
  virtual TIniStorage* AsStorage() noexcept { return nullptr; }

protected:
  // Destroys the children without virtual dispatch on this collection: destructors call it while the
  // indexes of the derived classes still exist.
  void ClearChildren();

private:
  TOwned<TCommonIniItem> UnlinkChild(TCommonIniItem* item);

  TOwned<TCommonIniItem> first_;
  TCommonIniItem* last_ = nullptr;
};

// A blank line.
class TIniEmptyLine : public TCommonIniItem {
public:
  TIniEmptyLine() = default;
  TOwned<TCommonIniItem> CloneSelf() const override;
  void WriteOwnLine(TIniLineSink& lines) const override;
};

// A line kept as raw text: a line of no other kind, or an "end" line.
class TIniTextLine : public TIniEmptyLine {
public:
  explicit TIniTextLine(std::u16string text) : text_(std::move(text)) {}
  const std::u16string& Text() const noexcept { return text_; }
  TOwned<TCommonIniItem> CloneSelf() const override;
  void WriteOwnLine(TIniLineSink& lines) const override;

protected:
  std::u16string text_;
};

class TIniComment : public TIniTextLine {
public:
  TIniComment(std::u16string text, uint32_t semicolonPos)
      : TIniTextLine(std::move(text)), semicolon_(semicolonPos) {}
  uint32_t SemicolonPos() const noexcept { return semicolon_; }
  TOwned<TCommonIniItem> CloneSelf() const override;

private:
  uint32_t semicolon_;
};

// A key line: name, "=", value.
class TIniIdent : public TIniTextLine {
public:
  // nameStart and valueStart are 1-based; valueStart is Text().size() + 1 when the value is empty.
  TIniIdent(std::u16string text, uint32_t nameStart, uint32_t nameLength, uint32_t valueStart);

  std::u16string GetName() const { return std::u16string(NameView()); }
  std::u16string_view NameView() const noexcept;
  // The text after the value start with trailing blanks removed.
  std::u16string GetValue() const { return std::u16string(ValueView()); }
  std::u16string_view ValueView() const noexcept;
  // Replaces everything from the value start on; name, "=" and the spacing before the value stay.
  void SetValue(std::u16string_view value);

  uint32_t NameStart() const noexcept { return nameStart_; }
  uint32_t NameLength() const noexcept { return nameLength_; }
  uint32_t ValueStart() const noexcept { return valueStart_; }

  TOwned<TCommonIniItem> CloneSelf() const override;

protected:
  void Attached() override;
  void Detaching() override;

private:
  friend class TIniIdentList;
  uint32_t nameStart_;
  uint32_t nameLength_;
  uint32_t valueStart_;
  uint32_t hash_ = 0;                 // ELF hash of the folded name; set when entering an index
  TIniIdent* nextInBucket_ = nullptr; // chain of the owner's key index, newest first
  bool indexed_ = false;
};

// Plain value records of the typed reads.
struct TIniPoint {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const TIniPoint&) const = default;
};
struct TIniFloatPoint {
  float x = 0;
  float y = 0;
  bool operator==(const TIniFloatPoint&) const = default;
};
struct TIniVector3 {
  float x = 0;
  float y = 0;
  float z = 0;
  bool operator==(const TIniVector3&) const = default;
};
struct TIniFloatRect {
  float left = 0;
  float top = 0;
  float right = 0;
  float bottom = 0;
  bool operator==(const TIniFloatRect&) const = default;
};
struct TIniRectPoint {
  TIniFloatRect rect;
  TIniFloatPoint point;
  bool operator==(const TIniRectPoint&) const = default;
};
// Three bytes in memory order blue, green, red.
struct TIniRGB {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  bool operator==(const TIniRGB&) const = default;
};

// A container of keys (a section, an object or the document itself), with a key index built on first use.
// Typed reads never fail: an absent key or a malformed value gives the default.
class TIniIdentList : public TIniCollection {
public:
  static constexpr uint32_t kKeyBuckets = 251;

  ~TIniIdentList() override;
  TIniIdentList* AsIdentList() noexcept override { return this; }

  TIniIdent* FindIdent(std::u16string_view name) const;
  // The key, created if absent: a line of `indent` blanks, the name and "=", inserted after the last key
  // line (or as the first child when there is no key yet).
  TIniIdent* FindOrAddIdentIndented(std::u16string_view name, int indent);
  virtual TIniIdent* FindOrAddIdent(std::u16string_view name);

  // Objects are found by iteration only.
  class TIniObject* FirstObject() const;
  class TIniObject* NextObject(const TCommonIniItem* after) const;

  std::u16string ReadString(std::u16string_view name, std::u16string_view defaultValue) const;
  void WriteString(std::u16string_view name, std::u16string_view value);
  int32_t ReadInteger(std::u16string_view name, int32_t defaultValue) const;
  double ReadFloat(std::u16string_view name, double defaultValue) const;
  bool ReadBool(std::u16string_view name, bool defaultValue) const;
  // Exact, case-sensitive match; the index of the first match.
  int ReadEnum(std::u16string_view name, std::span<const std::u16string_view> names, int defaultValue) const;
  // Case-insensitive match.
  int ReadEnumText(std::u16string_view name, std::span<const std::u16string_view> names,
                   int defaultValue) const;
  // Comma-separated lists. Each returns the number of items in the value (0 when the key is absent) and
  // stores at most out.size() of them. The numeric forms return -(i + 1) when item i is malformed.
  int ReadStrings(std::u16string_view name, std::span<std::u16string> out) const;
  int ReadIntegers(std::u16string_view name, std::span<int32_t> out) const;
  int ReadFloats(std::u16string_view name, std::span<double> out) const;
  TIniRGB ReadRGB(std::u16string_view name, TIniRGB defaultValue) const;
  // 0xAARRGGBB from "red, green, blue, alpha".
  uint32_t ReadARGB(std::u16string_view name, uint32_t defaultValue) const;
  TIniPoint ReadPoint(std::u16string_view name, TIniPoint defaultValue) const;
  TIniFloatPoint ReadFloatPoint(std::u16string_view name, TIniFloatPoint defaultValue) const;
  TIniVector3 ReadVector3(std::u16string_view name, TIniVector3 defaultValue) const;
  // 4 values: the rectangle and the point (-1, -1); 6 values: the rectangle and the point of values 5 and 6;
  // anything else: defaultRect and the point (0, 0).
  TIniRectPoint ReadRectPoint(std::u16string_view name, TIniFloatRect defaultRect) const;

  void Clear() override;

protected:
  // Indentation of keys created by FindOrAddIdent.
  virtual int KeyIndent() const { return 0; }

private:
  friend class TIniIdent;
  void IndexIdent(TIniIdent& key);
  void UnindexIdent(TIniIdent& key);

  TIniIdent** ChainOf(uint32_t hash) noexcept {
    return keyIndex_.empty() ? &smallChain_ : &keyIndex_[hash % kKeyBuckets];
  }

  // Most containers (objects, key points) hold a handful of keys: they keep one chain and get the bucket
  // list only when they grow past kSmallKeys, which saves an allocation of up to 251 heads per object.
  static constexpr uint32_t kSmallKeys = 8;
  TIniIdent* smallChain_ = nullptr; // newest first; used while keyIndex_ is empty
  uint32_t indexedKeys_ = 0;
  std::vector<TIniIdent*> keyIndex_; // bucket heads, kKeyBuckets of them once built
};

// A section or an object: a header line and the name range in it.
class TCommonIniSection : public TIniIdentList {
public:
  const std::u16string& HeaderText() const noexcept { return header_; }
  std::u16string GetName() const { return std::u16string(NameView()); }
  std::u16string_view NameView() const noexcept;
  virtual void SetName(std::u16string_view name);

  void WriteOwnLine(TIniLineSink& lines) const override;

protected:
  TCommonIniSection(std::u16string header, uint32_t nameStart, uint32_t nameLength)
      : header_(std::move(header)), nameStart_(nameStart), nameLength_(nameLength) {}

  std::u16string header_;
  uint32_t nameStart_;
  uint32_t nameLength_;
};

// A top-level section. Two sections of the same name are independent: each has its own keys and key
// index, a lookup by name finds the one entered into the document last, and removing one leaves the others.
class TIniSection : public TCommonIniSection {
public:
  TIniSection(std::u16string header, uint32_t nameStart, uint32_t nameLength)
      : TCommonIniSection(std::move(header), nameStart, nameLength) {}
  // A new section with the header "[name]".
  explicit TIniSection(std::u16string_view name);

  void SetName(std::u16string_view name) override;
  TOwned<TCommonIniItem> CloneSelf() const override;

protected:
  void Attached() override;
  void Detaching() override;

private:
  friend class TIniStorage;
  uint32_t hash_ = 0;
  TIniSection* nextInBucket_ = nullptr; // chain of the document's section index, newest first
  bool indexed_ = false;
};

// A nested object: "object NAME: TYPE" ... "end".
class TIniObject : public TCommonIniSection {
public:
  // typeStart 0: the header has no ":" and no type text at all.
  TIniObject(std::u16string header, uint32_t nameStart, uint32_t nameLength, uint32_t typeStart, int indent)
      : TCommonIniSection(std::move(header), nameStart, nameLength), typeStart_(typeStart), indent_(indent) {}

  std::u16string GetObjectType() const { return std::u16string(ObjectTypeView()); }
  std::u16string_view ObjectTypeView() const noexcept;
  void SetObjectType(std::u16string_view type);
  void SetName(std::u16string_view name) override;
  // Leading characters below code 33 on the header line.
  int Indent() const noexcept { return indent_; }
  TIniObject* NextSibling() const;

  TOwned<TCommonIniItem> CloneSelf() const override;

protected:
  int KeyIndent() const override { return indent_ + 2; }

private:
  bool HasColon() const noexcept;

  uint32_t typeStart_;
  int indent_;
};

// The whole document.
class TIniStorage : public TIniIdentList {
public:
  static constexpr uint32_t kSectionBuckets = 9973;

  TIniStorage() = default;
  ~TIniStorage() override;
  TIniStorage* AsStorage() noexcept override { return this; }
  void Clear() override;

  TIniSection* FindSection(std::u16string_view name) const;
  bool SectionExists(std::u16string_view name) const { return FindSection(name) != nullptr; }
  // The section, created if absent (after a blank line unless the document's last line is blank or the
  // document is empty).
  TIniSection* AddSection(std::u16string_view name);

  // Top-level sections in document order.
  TIniSection* FirstSection() const;
  TIniSection* NextSection(const TIniSection* after) const;
  void GetSectionNames(std::vector<std::u16string>& names) const;

  using TIniIdentList::ReadBool;
  using TIniIdentList::ReadFloat;
  using TIniIdentList::ReadInteger;
  using TIniIdentList::ReadString;
  using TIniIdentList::WriteString;
  std::u16string ReadString(std::u16string_view section, std::u16string_view name,
                            std::u16string_view defaultValue) const;
  int32_t ReadInteger(std::u16string_view section, std::u16string_view name, int32_t defaultValue) const;
  double ReadFloat(std::u16string_view section, std::u16string_view name, double defaultValue) const;
  // Read as ReadInteger with the default 1 or 0.
  bool ReadBool(std::u16string_view section, std::u16string_view name, bool defaultValue) const;
  void WriteString(std::u16string_view section, std::u16string_view name, std::u16string_view value);
  void WriteInteger(std::u16string_view section, std::u16string_view name, int32_t value);

  // The document's lines; false when writing failed.
  bool SaveToStrings(std::vector<std::u16string>& lines) const;

  // "Method not applicable".
  TCommonIniItem* Clone(TIniCollection& owner) const override;
  TOwned<TCommonIniItem> CloneSelf() const override;
  void WriteOwnLine(TIniLineSink&) const override {}

private:
  friend class TIniSection;
  void IndexSection(TIniSection& section);
  void UnindexSection(TIniSection& section);

  std::vector<TIniSection*> sectionIndex_; // bucket heads; grows to the highest bucket used
};

// Raised by an error notification to stop a parse; carries the parser's one-byte error code.
class EIniParseError : public TCommonException {
public:
  explicit EIniParseError(uint8_t code) : TCommonException("EIniParseError"), code_(code) {}
  uint8_t Code() const noexcept { return code_; }

private:
  uint8_t code_;
};

// Parse error codes.
enum : int {
  kIniErrorEndWithoutObject = 0, // "end" without an open object
  kIniErrorObjectsOpen = 1,      // objects still open at the end of the text
  kIniErrorUnknownLine = 2,      // a line of no known kind (dropped)
};

// Called with the document, the error code, the column of the line's first non-blank character (from 1)
// and the line number (from 0). May throw EIniParseError to stop the load.
using TIniErrorNotify = std::function<void(TIniFile& document, int code, int column, int line)>;

// A document read from and written to streams and files. Text is read in UTF-16 LE/BE, UTF-8 (with mark)
// or Windows-1252, and always written as UTF-8 with a mark and CR LF line ends.
class TIniFile : public TIniStorage {
public:
  TIniFile() = default;

  // Clear, detect the encoding, parse. False when the text could not be read (the items parsed before
  // the failure stay) or a notification stopped the parse. Never throws.
  bool LoadFromStream(TStream& stream);
  // Path in UTF-8. On success the name is remembered.
  bool LoadFromFile(const std::string& fileName);
  // False when anything fails. Never throws.
  bool SaveToStream(TStream& stream) const;
  // Writes a temporary file beside fileName and renames it over the old file only after a complete,
  // synced write: a failure leaves the old file as it was.
  bool SaveToFile(const std::string& fileName) const;

  const std::string& FileName() const noexcept { return fileName_; }
  bool Loaded() const noexcept { return loaded_; }

  void SetErrorNotify(TIniErrorNotify notify) { notify_ = std::move(notify); }
  const TIniErrorNotify& ErrorNotify() const noexcept { return notify_; }

private:
  std::string fileName_;
  bool loaded_ = false;
  TIniErrorNotify notify_;
};

} // namespace kiv
