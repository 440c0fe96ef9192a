#include "IniDocument.h"

#include "Assert.h"
#include "CaseFolding.h"
#include "IniValueSyntax.h"

#include <typeinfo>

namespace kiv {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view TrimRight(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// ELF hash of the folded name, folding on the fly so that lookups need no copy of the name.
uint32_t FoldedHash(std::u16string_view name) {
  uint32_t h = 0;
  for (char16_t c : name) {
    char16_t folded = c < 0x80 ? (c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c) : FoldCase(c);
    h = (h << 4) + static_cast<uint8_t>(folded);
    if (h >= 0x10000000u) h = (h ^ ((h >> 28) << 4)) & 0x0FFFFFFFu;
  }
  return h;
}

std::u16string AsciiToU16(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// Copies the children of source (whole subtrees) to the end of target, walking without recursion so
// that deeply nested documents cannot exhaust the stack.
void CopyChildren(const TIniCollection& source, TIniCollection& target) {
  const TCommonIniItem* item = source.FirstChild();
  const TIniCollection* level = &source;
  TIniCollection* out = &target;
  while (item) {
    TCommonIniItem* copy = out->AddChild(item->CloneSelf());
    const TIniCollection* sub = item->AsCollection();
    if (sub && sub->FirstChild()) {
      level = sub;
      out = copy->AsCollection();
      item = sub->FirstChild();
      continue;
    }
    while (!item->Next()) {
      if (level == &source) return;
      item = level;
      level = level->Owner();
      out = out->Owner();
    }
    item = item->Next();
  }
}

TOwned<TCommonIniItem> DeepCopy(const TCommonIniItem& item) {
  TOwned<TCommonIniItem> copy = item.CloneSelf();
  if (const TIniCollection* source = item.AsCollection()) CopyChildren(*source, *copy->AsCollection());
  return copy;
}

} // namespace

// ---- TCommonIniItem ----

TCommonIniItem::~TCommonIniItem() = default;

TCommonIniItem* TCommonIniItem::AddChild(TOwned<TCommonIniItem>) {
  RaiseAssertion(ClassName() + " cann`t has subitems", __FILE__, __LINE__);
}

TOwned<TCommonIniItem> TCommonIniItem::RemoveChild(TCommonIniItem*) {
  RaiseAssertion(ClassName() + " cann`t has subitems", __FILE__, __LINE__);
}

void TCommonIniItem::WriteTo(TIniLineSink& lines) const {
  WriteOwnLine(lines);
}

void TCommonIniItem::SetOwner(TIniCollection& newOwner) {
  // A detached item belongs to whoever holds it; only attached items can move.
  RY_ASSERT(owner_ != nullptr);
  for (const TIniCollection* c = &newOwner; c; c = c->Owner())
    RY_ASSERT(c != this);
  newOwner.AddChild(owner_->RemoveChild(this));
}

TCommonIniItem* TCommonIniItem::Clone(TIniCollection& owner) const {
  return owner.AddChild(DeepCopy(*this));
}

// ---- TIniCollection ----

TIniCollection::~TIniCollection() {
  ClearChildren();
}

TCommonIniItem* TIniCollection::AddChild(TOwned<TCommonIniItem> item) {
  return InsertChild(std::move(item), last_);
}

TCommonIniItem* TIniCollection::InsertChild(TOwned<TCommonIniItem> item, TCommonIniItem* after) {
  RY_ASSERT(item && item->owner_ == nullptr);
  RY_ASSERT(after == nullptr || after->owner_ == this);
  TCommonIniItem* raw = item.get();
  // Putting a collection inside itself would make a cycle of ownership. Only a detached collection that
  // already has children can be an ancestor of this one; fresh items (every parsed line) skip the walk.
  if (const TIniCollection* sub = raw->AsCollection(); sub && sub->first_)
    for (const TIniCollection* c = this; c; c = c->owner_)
      RY_ASSERT(c != raw);
  TOwned<TCommonIniItem>& slot = after ? after->next_ : first_;
  raw->next_ = std::move(slot);
  if (raw->next_)
    raw->next_->prev_ = raw;
  else
    last_ = raw;
  raw->prev_ = after;
  slot = std::move(item);
  raw->owner_ = this;
  raw->Attached();
  return raw;
}

TOwned<TCommonIniItem> TIniCollection::UnlinkChild(TCommonIniItem* item) {
  item->Detaching();
  TOwned<TCommonIniItem>& slot = item->prev_ ? item->prev_->next_ : first_;
  TOwned<TCommonIniItem> owned = std::move(slot);
  slot = std::move(item->next_);
  if (slot)
    slot->prev_ = item->prev_;
  else
    last_ = item->prev_;
  item->prev_ = nullptr;
  item->owner_ = nullptr;
  return owned;
}

TOwned<TCommonIniItem> TIniCollection::RemoveChild(TCommonIniItem* item) {
  RY_ASSERT(item != nullptr && item->owner_ == this);
  return UnlinkChild(item);
}

void TIniCollection::DeleteChild(TCommonIniItem* item) {
  RemoveChild(item).reset();
}

void TIniCollection::ClearChildren() {
  // Last child first, depth first, without recursion: each collection is emptied before it is destroyed.
  TIniCollection* level = this;
  while (true) {
    TCommonIniItem* item = level->last_;
    if (!item) {
      if (level == this) return;
      TIniCollection* up = level->owner_;
      up->UnlinkChild(level).reset();
      level = up;
      continue;
    }
    TIniCollection* sub = item->AsCollection();
    if (sub && sub->last_) {
      level = sub;
      continue;
    }
    level->UnlinkChild(item).reset();
  }
}

void TIniCollection::Clear() {
  ClearChildren();
}

void TIniCollection::AssignChildren(const TIniCollection& source) {
  if (&source == this) return;
  // Copy first: source may lie inside this collection.
  std::vector<TOwned<TCommonIniItem>> copies;
  for (const TCommonIniItem* c = source.FirstChild(); c; c = c->Next())
    copies.push_back(DeepCopy(*c));
  Clear();
  for (auto& copy : copies)
    AddChild(std::move(copy));
}

void TIniCollection::WriteTo(TIniLineSink& lines) const {
  WriteOwnLine(lines);
  const TCommonIniItem* item = first_.get();
  const TIniCollection* level = this;
  while (item) {
    item->WriteOwnLine(lines);
    const TIniCollection* sub = item->AsCollection();
    if (sub && sub->first_) {
      level = sub;
      item = sub->first_.get();
      continue;
    }
    while (!item->Next()) {
      if (level == this) return;
      item = level;
      level = level->owner_;
    }
    item = item->Next();
  }
}

TCommonIniItem* TIniCollection::Clone(TIniCollection& owner) const {
  // Built detached first, so that cloning into one's own subtree does not copy the copy.
  return owner.AddChild(DeepCopy(*this));
}

// ---- lines ----

TOwned<TCommonIniItem> TIniEmptyLine::CloneSelf() const {
  return MakeOwned<TIniEmptyLine>();
}
void TIniEmptyLine::WriteOwnLine(TIniLineSink& lines) const {
  lines.WriteEmptyLine();
}

TOwned<TCommonIniItem> TIniTextLine::CloneSelf() const {
  return MakeOwned<TIniTextLine>(text_);
}
void TIniTextLine::WriteOwnLine(TIniLineSink& lines) const {
  lines.WriteLine(text_);
}

TOwned<TCommonIniItem> TIniComment::CloneSelf() const {
  return MakeOwned<TIniComment>(text_, semicolon_);
}

// ---- TIniIdent ----

TIniIdent::TIniIdent(std::u16string text, uint32_t nameStart, uint32_t nameLength, uint32_t valueStart)
    : TIniTextLine(std::move(text)), nameStart_(nameStart), nameLength_(nameLength), valueStart_(valueStart) {
  RY_ASSERT(nameStart_ >= 1 && nameStart_ - 1 + nameLength_ <= text_.size());
  RY_ASSERT(valueStart_ >= 1 && valueStart_ - 1 <= text_.size());
}

std::u16string_view TIniIdent::NameView() const noexcept {
  return std::u16string_view(text_).substr(nameStart_ - 1, nameLength_);
}

std::u16string_view TIniIdent::ValueView() const noexcept {
  return TrimRight(std::u16string_view(text_).substr(valueStart_ - 1));
}

void TIniIdent::SetValue(std::u16string_view value) {
  text_.resize(valueStart_ - 1);
  text_.append(value);
}

TOwned<TCommonIniItem> TIniIdent::CloneSelf() const {
  return MakeOwned<TIniIdent>(text_, nameStart_, nameLength_, valueStart_);
}

void TIniIdent::Attached() {
  if (TIniIdentList* list = Owner()->AsIdentList()) list->IndexIdent(*this);
}

void TIniIdent::Detaching() {
  if (indexed_) Owner()->AsIdentList()->UnindexIdent(*this);
}

// ---- TIniIdentList ----

TIniIdentList::~TIniIdentList() {
  ClearChildren();
}

void TIniIdentList::IndexIdent(TIniIdent& key) {
  if (key.nameLength_ == 0) return; // keys without a name cannot be found
  key.hash_ = FoldedHash(key.NameView());
  if (keyIndex_.empty() && indexedKeys_ >= kSmallKeys) {
    // Spread the chain over the buckets, oldest first, so that every bucket still runs newest first.
    std::vector<TIniIdent*> keys;
    for (TIniIdent* k = smallChain_; k; k = k->nextInBucket_)
      keys.push_back(k);
    keyIndex_.assign(kKeyBuckets, nullptr);
    smallChain_ = nullptr;
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
      TIniIdent*& head = keyIndex_[(*it)->hash_ % kKeyBuckets];
      (*it)->nextInBucket_ = head;
      head = *it;
    }
  }
  TIniIdent** head = ChainOf(key.hash_);
  key.nextInBucket_ = *head;
  *head = &key;
  key.indexed_ = true;
  ++indexedKeys_;
}

void TIniIdentList::UnindexIdent(TIniIdent& key) {
  TIniIdent** link = ChainOf(key.hash_);
  while (*link && *link != &key)
    link = &(*link)->nextInBucket_;
  if (*link) {
    *link = key.nextInBucket_;
    --indexedKeys_;
  }
  key.nextInBucket_ = nullptr;
  key.indexed_ = false;
}

TIniIdent* TIniIdentList::FindIdent(std::u16string_view name) const {
  if (name.empty()) return nullptr;
  uint32_t hash = FoldedHash(name);
  TIniIdent* chain = keyIndex_.empty() ? smallChain_ : keyIndex_[hash % kKeyBuckets];
  for (TIniIdent* key = chain; key; key = key->nextInBucket_)
    if (key->hash_ == hash && SameText(key->NameView(), name)) return key;
  return nullptr;
}

TIniIdent* TIniIdentList::FindOrAddIdentIndented(std::u16string_view name, int indent) {
  if (TIniIdent* found = FindIdent(name)) return found;
  std::u16string text(static_cast<size_t>(std::max(indent, 0)), u' ');
  uint32_t nameStart = static_cast<uint32_t>(text.size()) + 1;
  text.append(name);
  text.push_back(u'=');
  uint32_t valueStart = static_cast<uint32_t>(text.size()) + 1;
  TCommonIniItem* lastKey = LastChild();
  while (lastKey && dynamic_cast<TIniIdent*>(lastKey) == nullptr)
    lastKey = lastKey->Prev();
  auto key = MakeOwned<TIniIdent>(std::move(text), nameStart, static_cast<uint32_t>(name.size()), valueStart);
  return static_cast<TIniIdent*>(InsertChild(std::move(key), lastKey));
}

TIniIdent* TIniIdentList::FindOrAddIdent(std::u16string_view name) {
  return FindOrAddIdentIndented(name, KeyIndent());
}

TIniObject* TIniIdentList::FirstObject() const {
  for (TCommonIniItem* c = FirstChild(); c; c = c->Next())
    if (auto* object = dynamic_cast<TIniObject*>(c)) return object;
  return nullptr;
}

TIniObject* TIniIdentList::NextObject(const TCommonIniItem* after) const {
  if (!after || after->Owner() != this) return nullptr;
  for (TCommonIniItem* c = after->Next(); c; c = c->Next())
    if (auto* object = dynamic_cast<TIniObject*>(c)) return object;
  return nullptr;
}

void TIniIdentList::Clear() {
  ClearChildren();
  keyIndex_.clear();
  smallChain_ = nullptr;
  indexedKeys_ = 0;
}

std::u16string TIniIdentList::ReadString(std::u16string_view name, std::u16string_view defaultValue) const {
  const TIniIdent* key = FindIdent(name);
  return std::u16string(key ? key->ValueView() : defaultValue);
}

void TIniIdentList::WriteString(std::u16string_view name, std::u16string_view value) {
  TIniIdent* key = FindOrAddIdent(name);
  RY_ASSERT(key != nullptr);
  key->SetValue(value);
}

int32_t TIniIdentList::ReadInteger(std::u16string_view name, int32_t defaultValue) const {
  const TIniIdent* key = FindIdent(name);
  int32_t value = 0;
  return key && ParseIniInteger(key->ValueView(), value) ? value : defaultValue;
}

double TIniIdentList::ReadFloat(std::u16string_view name, double defaultValue) const {
  const TIniIdent* key = FindIdent(name);
  double value = 0;
  return key && ParseIniFloat(key->ValueView(), value) ? value : defaultValue;
}

bool TIniIdentList::ReadBool(std::u16string_view name, bool defaultValue) const {
  const TIniIdent* key = FindIdent(name);
  int32_t value = 0;
  return key && ParseIniBoolNumber(key->ValueView(), value) ? value != 0 : defaultValue;
}

int TIniIdentList::ReadEnum(std::u16string_view name, std::span<const std::u16string_view> names,
                            int defaultValue) const {
  const TIniIdent* key = FindIdent(name);
  if (!key) return defaultValue;
  std::u16string_view value = key->ValueView();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == value) return static_cast<int>(i);
  return defaultValue;
}

int TIniIdentList::ReadEnumText(std::u16string_view name, std::span<const std::u16string_view> names,
                                int defaultValue) const {
  const TIniIdent* key = FindIdent(name);
  if (!key) return defaultValue;
  std::u16string_view value = key->ValueView();
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], value)) return static_cast<int>(i);
  return defaultValue;
}

int TIniIdentList::ReadStrings(std::u16string_view name, std::span<std::u16string> out) const {
  const TIniIdent* key = FindIdent(name);
  if (!key) return 0;
  return ForEachIniListItem(key->ValueView(), [&](size_t i, std::u16string_view item) {
    if (i < out.size()) out[i].assign(item);
    return true;
  });
}

int TIniIdentList::ReadIntegers(std::u16string_view name, std::span<int32_t> out) const {
  const TIniIdent* key = FindIdent(name);
  if (!key) return 0;
  return ForEachIniListItem(key->ValueView(), [&](size_t i, std::u16string_view item) {
    int32_t value = 0;
    if (!ParseIniInteger(item, value)) return false;
    if (i < out.size()) out[i] = value;
    return true;
  });
}

int TIniIdentList::ReadFloats(std::u16string_view name, std::span<double> out) const {
  const TIniIdent* key = FindIdent(name);
  if (!key) return 0;
  return ForEachIniListItem(key->ValueView(), [&](size_t i, std::u16string_view item) {
    double value = 0;
    if (!ParseIniFloat(item, value)) return false;
    if (i < out.size()) out[i] = value;
    return true;
  });
}

namespace {
uint8_t ClampByte(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}
} // namespace

TIniRGB TIniIdentList::ReadRGB(std::u16string_view name, TIniRGB defaultValue) const {
  int32_t v[3];
  if (ReadIntegers(name, v) != 3) return defaultValue;
  return TIniRGB{ClampByte(v[2]), ClampByte(v[1]), ClampByte(v[0])};
}

uint32_t TIniIdentList::ReadARGB(std::u16string_view name, uint32_t defaultValue) const {
  int32_t v[4];
  if (ReadIntegers(name, v) != 4) return defaultValue;
  return (uint32_t{ClampByte(v[3])} << 24) | (uint32_t{ClampByte(v[0])} << 16) |
         (uint32_t{ClampByte(v[1])} << 8) | uint32_t{ClampByte(v[2])};
}

TIniPoint TIniIdentList::ReadPoint(std::u16string_view name, TIniPoint defaultValue) const {
  int32_t v[2];
  if (ReadIntegers(name, v) != 2) return defaultValue;
  return TIniPoint{v[0], v[1]};
}

TIniFloatPoint TIniIdentList::ReadFloatPoint(std::u16string_view name, TIniFloatPoint defaultValue) const {
  double v[2];
  if (ReadFloats(name, v) != 2) return defaultValue;
  return TIniFloatPoint{static_cast<float>(v[0]), static_cast<float>(v[1])};
}

TIniVector3 TIniIdentList::ReadVector3(std::u16string_view name, TIniVector3 defaultValue) const {
  double v[3];
  if (ReadFloats(name, v) != 3) return defaultValue;
  return TIniVector3{static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

TIniRectPoint TIniIdentList::ReadRectPoint(std::u16string_view name, TIniFloatRect defaultRect) const {
  double v[6];
  int n = ReadFloats(name, v);
  if (n != 4 && n != 6) return TIniRectPoint{defaultRect, TIniFloatPoint{0, 0}};
  auto f = [&](int i) { return static_cast<float>(v[i]); };
  TIniRectPoint result{TIniFloatRect{f(0), f(1), f(2), f(3)}, TIniFloatPoint{-1, -1}};
  if (n == 6) result.point = TIniFloatPoint{f(4), f(5)};
  return result;
}

// ---- sections and objects ----

std::u16string_view TCommonIniSection::NameView() const noexcept {
  return std::u16string_view(header_).substr(nameStart_ - 1, nameLength_);
}

void TCommonIniSection::SetName(std::u16string_view name) {
  header_.replace(nameStart_ - 1, nameLength_, name);
  nameLength_ = static_cast<uint32_t>(name.size());
}

void TCommonIniSection::WriteOwnLine(TIniLineSink& lines) const {
  lines.WriteLine(header_);
}

TIniSection::TIniSection(std::u16string_view name)
    : TCommonIniSection(u"[" + std::u16string(name) + u"]", 2, static_cast<uint32_t>(name.size())) {}

void TIniSection::SetName(std::u16string_view name) {
  // Renaming files the section under its new name.
  TIniStorage* storage = indexed_ ? Owner()->AsStorage() : nullptr;
  if (storage) storage->UnindexSection(*this);
  TCommonIniSection::SetName(name);
  if (storage) storage->IndexSection(*this);
}

TOwned<TCommonIniItem> TIniSection::CloneSelf() const {
  return MakeOwned<TIniSection>(header_, nameStart_, nameLength_);
}

void TIniSection::Attached() {
  if (TIniStorage* storage = Owner()->AsStorage()) storage->IndexSection(*this);
}

void TIniSection::Detaching() {
  if (indexed_) Owner()->AsStorage()->UnindexSection(*this);
}

bool TIniObject::HasColon() const noexcept {
  size_t i = nameStart_ - 1 + nameLength_;
  while (i < header_.size() && IsBlank(header_[i]))
    ++i;
  return i < header_.size() && header_[i] == u':';
}

std::u16string_view TIniObject::ObjectTypeView() const noexcept {
  if (typeStart_ == 0 || typeStart_ - 1 > header_.size()) return {};
  return TrimRight(std::u16string_view(header_).substr(typeStart_ - 1));
}

void TIniObject::SetObjectType(std::u16string_view type) {
  if (typeStart_ == 0) {
    // A bare "object" header: "object:Type" would no longer read as an object, so keep a blank before ":".
    if (header_.empty() || !IsBlank(header_.back())) header_.push_back(u' ');
    nameStart_ = static_cast<uint32_t>(header_.size()) + 1;
    nameLength_ = 0;
    header_.push_back(u':');
    typeStart_ = static_cast<uint32_t>(header_.size()) + 1;
  }
  header_.resize(std::min<size_t>(typeStart_ - 1, header_.size()));
  header_.append(type);
}

void TIniObject::SetName(std::u16string_view name) {
  if (HasColon()) {
    uint32_t oldEnd = nameStart_ - 1 + nameLength_;
    uint32_t oldLength = nameLength_;
    TCommonIniSection::SetName(name);
    if (typeStart_ > oldEnd) typeStart_ = typeStart_ - oldLength + nameLength_;
    return;
  }
  if (name.empty()) return;
  // No ":" yet: the rest of the header is the type; the name goes in front of it with a ":".
  size_t at = nameStart_ - 1;
  std::u16string insert;
  if (at == 0 || !IsBlank(header_[at - 1])) insert.push_back(u' ');
  uint32_t newNameStart = static_cast<uint32_t>(at + insert.size()) + 1;
  insert.append(name);
  insert.push_back(u':');
  if (typeStart_ != 0) insert.push_back(u' ');
  header_.insert(at, insert);
  nameStart_ = newNameStart;
  nameLength_ = static_cast<uint32_t>(name.size());
  if (typeStart_ != 0)
    typeStart_ += static_cast<uint32_t>(insert.size());
  else
    typeStart_ = static_cast<uint32_t>(header_.size()) + 1;
}

TIniObject* TIniObject::NextSibling() const {
  return Owner() ? Owner()->AsIdentList()->NextObject(this) : nullptr;
}

TOwned<TCommonIniItem> TIniObject::CloneSelf() const {
  return MakeOwned<TIniObject>(header_, nameStart_, nameLength_, typeStart_, indent_);
}

// ---- TIniStorage ----

TIniStorage::~TIniStorage() {
  ClearChildren();
}

void TIniStorage::Clear() {
  TIniIdentList::Clear();
  sectionIndex_.clear();
}

// Two sections of the same name stay independent: each has its own keys and key index. The chain of a
// bucket runs newest first, so a lookup finds the section entered last, and removing one section takes
// only that one out of the index.
void TIniStorage::IndexSection(TIniSection& section) {
  section.hash_ = FoldedHash(section.NameView());
  uint32_t bucket = section.hash_ % kSectionBuckets;
  if (sectionIndex_.size() <= bucket) sectionIndex_.resize(bucket + 1, nullptr);
  section.nextInBucket_ = sectionIndex_[bucket];
  sectionIndex_[bucket] = &section;
  section.indexed_ = true;
}

void TIniStorage::UnindexSection(TIniSection& section) {
  TIniSection** link = &sectionIndex_[section.hash_ % kSectionBuckets];
  while (*link && *link != &section)
    link = &(*link)->nextInBucket_;
  if (*link) *link = section.nextInBucket_;
  section.nextInBucket_ = nullptr;
  section.indexed_ = false;
}

TIniSection* TIniStorage::FindSection(std::u16string_view name) const {
  uint32_t hash = FoldedHash(name);
  uint32_t bucket = hash % kSectionBuckets;
  if (bucket >= sectionIndex_.size()) return nullptr;
  for (TIniSection* s = sectionIndex_[bucket]; s; s = s->nextInBucket_)
    if (s->hash_ == hash && SameText(s->NameView(), name)) return s;
  return nullptr;
}

TIniSection* TIniStorage::AddSection(std::u16string_view name) {
  if (TIniSection* found = FindSection(name)) return found;
  // The last line in document order (a trailing blank line usually belongs to the last section). An empty
  // document gets no leading blank line.
  const TCommonIniItem* lastLine = LastChild();
  while (lastLine && lastLine->AsCollection() && lastLine->AsCollection()->LastChild())
    lastLine = lastLine->AsCollection()->LastChild();
  if (lastLine && typeid(*lastLine) != typeid(TIniEmptyLine)) AddChild(MakeOwned<TIniEmptyLine>());
  return static_cast<TIniSection*>(AddChild(MakeOwned<TIniSection>(name)));
}

TIniSection* TIniStorage::FirstSection() const {
  for (TCommonIniItem* c = FirstChild(); c; c = c->Next())
    if (auto* s = dynamic_cast<TIniSection*>(c)) return s;
  return nullptr;
}

TIniSection* TIniStorage::NextSection(const TIniSection* after) const {
  if (!after || after->Owner() != this) return nullptr;
  for (TCommonIniItem* c = after->Next(); c; c = c->Next())
    if (auto* s = dynamic_cast<TIniSection*>(c)) return s;
  return nullptr;
}

void TIniStorage::GetSectionNames(std::vector<std::u16string>& names) const {
  names.clear();
  for (const TIniSection* s = FirstSection(); s; s = NextSection(s))
    names.push_back(s->GetName());
}

std::u16string TIniStorage::ReadString(std::u16string_view section, std::u16string_view name,
                                       std::u16string_view defaultValue) const {
  const TIniSection* s = FindSection(section);
  return s ? s->ReadString(name, defaultValue) : std::u16string(defaultValue);
}

int32_t TIniStorage::ReadInteger(std::u16string_view section, std::u16string_view name,
                                 int32_t defaultValue) const {
  const TIniSection* s = FindSection(section);
  return s ? s->ReadInteger(name, defaultValue) : defaultValue;
}

double TIniStorage::ReadFloat(std::u16string_view section, std::u16string_view name,
                              double defaultValue) const {
  const TIniSection* s = FindSection(section);
  return s ? s->ReadFloat(name, defaultValue) : defaultValue;
}

bool TIniStorage::ReadBool(std::u16string_view section, std::u16string_view name, bool defaultValue) const {
  return ReadInteger(section, name, defaultValue ? 1 : 0) != 0;
}

void TIniStorage::WriteString(std::u16string_view section, std::u16string_view name,
                              std::u16string_view value) {
  TIniSection* s = AddSection(section);
  RY_ASSERT(s != nullptr);
  s->WriteString(name, value);
}

void TIniStorage::WriteInteger(std::u16string_view section, std::u16string_view name, int32_t value) {
  WriteString(section, name, AsciiToU16(std::to_string(value)));
}

bool TIniStorage::SaveToStrings(std::vector<std::u16string>& lines) const {
  try {
    TIniStringsSink sink(lines);
    WriteTo(sink);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TCommonIniItem* TIniStorage::Clone(TIniCollection&) const {
  RaiseAssertion("Method not applicable", __FILE__, __LINE__);
}

TOwned<TCommonIniItem> TIniStorage::CloneSelf() const {
  RaiseAssertion("Method not applicable", __FILE__, __LINE__);
}

} // namespace kiv
