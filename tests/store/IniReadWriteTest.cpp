// How lines are classified, which errors are reported, and what the saver writes.

#include "StoreTestUtil.h"

#include "IniReadWrite.h"

#include <gtest/gtest.h>

using namespace kiv;
using namespace kivtest;

namespace {

struct TError {
  int code, column, line;
  bool operator==(const TError&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TError& e) {
  return os << "{" << e.code << "," << e.column << "," << e.line << "}";
}

// One line describing a parsed item: kind and its name/value/type where it has them.
std::string Describe(const TCommonIniItem& item) {
  if (auto* o = dynamic_cast<const TIniObject*>(&item))
    return "object '" + A(o->GetName()) + "' '" + A(o->GetObjectType()) + "'";
  if (auto* s = dynamic_cast<const TIniSection*>(&item)) return "section '" + A(s->GetName()) + "'";
  if (auto* k = dynamic_cast<const TIniIdent*>(&item))
    return "key '" + A(k->GetName()) + "' '" + A(k->GetValue()) + "'";
  if (dynamic_cast<const TIniComment*>(&item)) return "comment";
  if (dynamic_cast<const TIniTextLine*>(&item)) return "text";
  return "empty";
}

} // namespace

TEST(IniParser, ClassifiesLines) {
  struct Case {
    const char* line;
    const char* expected; // what the line becomes; "dropped" with error 2
  } cases[] = {
      {"", "empty"},
      {" \t ", "empty"},
      {"; note", "comment"},
      {"  ;note", "comment"},
      {"=value", "text"},
      {"  = value", "text"},
      {"[]", "text"},
      {"[   ", "text"},
      {"[ \t", "text"},
      {"[name", "text"},
      {"[Main]", "section 'Main'"},
      {"[ spaced name ] tail", "section 'spaced name'"},
      {"[a]]", "section 'a'"},
      {"k=v", "key 'k' 'v'"},
      {"  k =  v = w  ", "key 'k' 'v = w'"},
      {"k=", "key 'k' ''"},
      {"k   =   ", "key 'k' ''"},
      {"k\t=\tv", "key 'k' 'v'"},
      {"a b = c", "dropped"},
      {"word", "dropped"},
      {"object", "object '' ''"},
      {"object Image", "object '' 'Image'"},
      {"OBJECT Pic1 : Image  ", "object 'Pic1' 'Image'"},
      {"Object a:b: c", "object 'a:b' 'c'"},
      {"object n:", "object 'n' ''"},
      {"object:Image", "dropped"},
  };
  for (const Case& c : cases) {
    TIniFile doc;
    std::vector<TError> errors;
    doc.SetErrorNotify([&](TIniFile&, int code, int column, int line) {
      errors.push_back({code, column, line});
    });
    ASSERT_TRUE(LoadUtf8(doc, std::string("[s]\n") + c.line + "\n"));
    TIniSection* s = doc.FindSection(u"s");
    bool isSection = std::string_view(c.expected).starts_with("section");
    const TCommonIniItem* item = isSection ? doc.LastChild() : (s ? s->FirstChild() : nullptr);
    if (std::string_view(c.expected) == "dropped") {
      EXPECT_EQ(item, nullptr) << c.line;
      EXPECT_EQ(errors, (std::vector<TError>{
                            {kIniErrorUnknownLine,
                             1 + static_cast<int>(std::string_view(c.line).find_first_not_of(" \t")), 1}}))
          << c.line;
      continue;
    }
    ASSERT_NE(item, nullptr) << c.line;
    EXPECT_EQ(Describe(*item), c.expected) << c.line;
    bool opensObject = std::string_view(c.expected).starts_with("object");
    EXPECT_EQ(errors.size(), opensObject ? 1u : 0u) << c.line; // an object left open at the end
  }
}

TEST(IniParser, ObjectsNestAndEndClosesThem) {
  TIniFile doc;
  std::vector<TError> errors;
  doc.SetErrorNotify([&](TIniFile&, int code, int column, int line) {
    errors.push_back({code, column, line});
  });
  ASSERT_TRUE(LoadUtf8(doc, "[slide1]\n"
                            "Effect_Type=1\n"
                            "object Pic1: Image\n"
                            "  FitMode=PlaceInto\n"
                            "  object K: KeyPoint\n"
                            "    Time=0\n"
                            "  END of key point\n"
                            "end\n"
                            "after=1\n"));
  EXPECT_TRUE(errors.empty());
  TIniSection* s = doc.FindSection(u"slide1");
  TIniObject* image = s->FirstObject();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->ReadString(u"FitMode", u""), u"PlaceInto");
  EXPECT_EQ(image->FindIdent(u"Time"), nullptr);
  TIniObject* key = image->FirstObject();
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadInteger(u"Time", -1), 0);
  // The "end" lines stay inside their objects, as their last children.
  EXPECT_EQ(static_cast<const TIniTextLine*>(key->LastChild())->Text(), u"  END of key point");
  EXPECT_EQ(static_cast<const TIniTextLine*>(image->LastChild())->Text(), u"end");
  EXPECT_EQ(s->ReadInteger(u"after", 0), 1);
}

TEST(IniParser, ReportsErrorsWithColumnAndLine) {
  TIniFile doc;
  std::vector<TError> errors;
  doc.SetErrorNotify([&](TIniFile&, int code, int column, int line) {
    errors.push_back({code, column, line});
  });
  ASSERT_TRUE(LoadUtf8(doc, "end\n"
                            "[A]\n"
                            "object O: T\n"
                            "[B]\n"   // moves to the new section; the object stays open
                            "  end\n" // not inside an object now
                            "k=1\n"));
  EXPECT_EQ(errors, (std::vector<TError>{{0, 1, 0}, {0, 3, 4}, {1, 1, 5}}));
  EXPECT_EQ(doc.ReadInteger(u"B", u"k", 0), 1);
  EXPECT_EQ(SaveText(doc), "[A]\nobject O: T\n[B]\nk=1\n");
}

TEST(IniParser, NotificationCanStopTheLoad) {
  TIniFile doc;
  std::vector<int> codes;
  doc.SetErrorNotify([&](TIniFile&, int code, int, int) {
    codes.push_back(code);
    throw EIniParseError(static_cast<uint8_t>(code));
  });
  EXPECT_FALSE(LoadUtf8(doc, "[A]\nk=1\nbad line\n[B]\n"));
  EXPECT_FALSE(doc.Loaded());
  EXPECT_EQ(codes, (std::vector<int>{2, 2}));
  EXPECT_EQ(doc.ReadInteger(u"A", u"k", 0), 1);
  EXPECT_FALSE(doc.SectionExists(u"B"));
}

TEST(IniSaver, WritesUtf8WithMarkAndCrLf) {
  TIniFile doc;
  EXPECT_EQ(SaveBytes(doc), "\xEF\xBB\xBF");
  doc.WriteString(u"s", u"k", U("é😀"));
  EXPECT_EQ(SaveBytes(doc), "\xEF\xBB\xBF[s]\r\nk=\xC3\xA9\xF0\x9F\x98\x80\r\n");
  TIniFile one;
  ASSERT_TRUE(LoadBytes(one, "k=v"));
  EXPECT_EQ(SaveBytes(one), "\xEF\xBB\xBFk=v\r\n");
}

TEST(TextWriter, EncodesAndEndsLines) {
  TMemoryStream utf8;
  {
    TUTF8Writer writer(utf8);
    writer.WriteString(u"A\u00e9\u20ac\U0001F600");
    writer.WriteLineEnd(TLineBreak::LF);
    writer.WriteLineEnd(TLineBreak::CR);
    writer.WriteLineEnd(TLineBreak::LFCR);
    writer.WriteLine(u"\xD800"); // an unpaired surrogate at the end: its own 3 bytes
    EXPECT_THROW(writer.WriteString(u"\xD800x"), EInvalidCharError);
  }
  EXPECT_EQ(std::string(utf8.Data().begin(), utf8.Data().end()),
            "\xEF\xBB\xBF"
            "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n\r\n\r\xED\xA0\x80\r\n");

  TMemoryStream utf16;
  {
    TUnicodeWriter writer(utf16);
    writer.WriteLine(u"a\u20ac");
  }
  EXPECT_EQ(utf16.Data(), (std::vector<uint8_t>{0xFF, 0xFE, 'a', 0, 0xAC, 0x20, '\r', 0, '\n', 0}));
}

TEST(TextWriter, LongOutputPassesThroughTheBufferIntact) {
  std::u16string text;
  for (int i = 0; i < 100000; ++i)
    text += (i % 7 == 0) ? u'\u00e9' : static_cast<char16_t>(u'a' + i % 26);
  TMemoryStream stream;
  {
    TUTF8Writer writer(stream);
    writer.WriteString(text);
    writer.Flush();
  }
  std::string bytes(stream.Data().begin() + 3, stream.Data().end());
  EXPECT_EQ(U(bytes), text);
}
