// The document model: keys, sections, objects, lookups and typed reads.

#include "StoreTestUtil.h"

#include "Assert.h"
#include "IniDocument.h"

#include <gtest/gtest.h>

using namespace kiv;
using namespace kivtest;

namespace {

// A document loaded from UTF-8 text.
struct TDoc : TIniFile {
  explicit TDoc(std::string_view text) { EXPECT_TRUE(LoadUtf8(*this, text)); }
};

// Silences the assertion report while a test provokes assertions on purpose.
class TQuietAssertions {
public:
  TQuietAssertions() : old_(SetAssertionSink([](const std::string&) {})) {}
  ~TQuietAssertions() { SetAssertionSink(old_); }

private:
  TAssertionSink old_;
};

} // namespace

TEST(IniIdent, ValueExcludesBlanksAroundAndSetValueKeepsThem) {
  TIniFile doc;
  ASSERT_TRUE(LoadUtf8(doc, "[s]\r\nKey = old value  \r\n"));
  TIniIdent* key = doc.FindSection(u"s")->FindIdent(u"key");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->GetName(), u"Key");
  EXPECT_EQ(key->GetValue(), u"old value");
  key->SetValue(u"new");
  EXPECT_EQ(key->Text(), u"Key = new");
  EXPECT_EQ(key->GetValue(), u"new");
}

TEST(IniIdentList, LaterDuplicateKeyWinsAndLookupsIgnoreCase) {
  TIniFile doc;
  ASSERT_TRUE(LoadUtf8(doc, "[MySection]\nWidth=1\nwidth=2\n"));
  EXPECT_EQ(doc.ReadInteger(u"mysection", u"WIDTH", 0), 2);
  EXPECT_EQ(doc.ReadString(u"MYSECTION", u"Width", u"-"), u"2");
  // Removing the later line uncovers the earlier one.
  TIniSection* section = doc.FindSection(u"mysection");
  section->DeleteChild(section->FindIdent(u"width"));
  EXPECT_EQ(section->ReadInteger(u"Width", 0), 1);
  EXPECT_EQ(SaveText(doc), "[MySection]\nWidth=1\n");
}

TEST(IniIdentList, NonAsciiNamesFoldCase) {
  TIniFile doc;
  ASSERT_TRUE(LoadUtf8(doc, "[Ünïcode]\nÉcran=1\n"));
  EXPECT_EQ(doc.ReadInteger(U("ünÏcode"), U("écRAN"), 0), 1);
}

TEST(IniIdentList, NewKeyGoesAfterLastKeyBeforeBlankLineAndObject) {
  TIniFile doc;
  ASSERT_TRUE(LoadUtf8(doc, "[s]\na=1\nb=2\n\nobject O: T\n  x=1\nend\n"));
  doc.WriteString(u"s", u"c", u"3");
  EXPECT_EQ(SaveText(doc), "[s]\na=1\nb=2\nc=3\n\nobject O: T\n  x=1\nend\n");
}

TEST(IniIdentList, NewKeyWithoutKeysIsFirstChild) {
  TIniFile doc;
  ASSERT_TRUE(LoadUtf8(doc, "[s]\n; note\n\n"));
  doc.FindSection(u"s")->WriteString(u"k", u"v");
  EXPECT_EQ(SaveText(doc), "[s]\nk=v\n; note\n\n");
}

TEST(IniObject, NewKeyIsIndentedTwoMoreThanTheHeader) {
  TIniFile doc;
  ASSERT_TRUE(LoadUtf8(doc, "[s]\n  object Pic: Image\n  end\n"));
  TIniObject* object = doc.FindSection(u"s")->FirstObject();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->Indent(), 2);
  object->WriteString(u"FitMode", u"PlaceInto");
  EXPECT_EQ(SaveText(doc), "[s]\n  object Pic: Image\n    FitMode=PlaceInto\n  end\n");
}

TEST(IniObject, NamesTypesAndIteration) {
  TIniFile doc;
  ASSERT_TRUE(LoadUtf8(doc, "[s]\nobject A: Image\nend\nk=1\nobject\nend\nobject Button\nend\n"));
  TIniSection* s = doc.FindSection(u"s");
  std::vector<std::pair<std::u16string, std::u16string>> seen;
  for (TIniObject* o = s->FirstObject(); o; o = o->NextSibling())
    seen.emplace_back(o->GetName(), o->GetObjectType());
  std::vector<std::pair<std::u16string, std::u16string>> want = {
      {u"A", u"Image"}, {u"", u""}, {u"", u"Button"}};
  EXPECT_EQ(seen, want);

  TIniObject* a = s->FirstObject();
  TIniObject* bare = s->NextObject(a);
  TIniObject* button = bare->NextSibling();
  a->SetName(u"Picture");
  a->SetObjectType(u"Text");
  bare->SetObjectType(u"Box");
  button->SetName(u"B1");
  EXPECT_EQ(a->HeaderText(), u"object Picture: Text");
  EXPECT_EQ(bare->HeaderText(), u"object :Box");
  EXPECT_EQ(button->HeaderText(), u"object B1: Button");
  // What was written reads back the same.
  TIniFile again;
  ASSERT_TRUE(LoadUtf8(again, SaveText(doc)));
  seen.clear();
  for (TIniObject* o = again.FindSection(u"s")->FirstObject(); o; o = o->NextSibling())
    seen.emplace_back(o->GetName(), o->GetObjectType());
  want = {{u"Picture", u"Text"}, {u"", u"Box"}, {u"B1", u"Button"}};
  EXPECT_EQ(seen, want);
}

TEST(IniIdentList, ReadInteger) {
  struct Case {
    const char* value;
    int32_t expected;
  } cases[] = {
      {"42", 42},
      {"+7", 7},
      {"-13", -13},
      {"$FF", 255},
      {"0x10", 16},
      {"x1f", 31},
      {"X1F", 31},
      {"0X1a", 26},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", -99},
      {"$100000000", -99},
      {"", -99},
      {"12a", -99},
      {"1.5", -99},
      {"$", -99},
      {"0x", -99},
      {"- 1", -99},
      {"true", -99},
  };
  for (const Case& c : cases) {
    TDoc doc(std::string("[s]\nk=") + c.value + "\n");
    EXPECT_EQ(doc.ReadInteger(u"s", u"k", -99), c.expected) << c.value;
  }
  EXPECT_EQ(TDoc("[s]\n").ReadInteger(u"s", u"k", -99), -99);
  EXPECT_EQ(TDoc("").ReadInteger(u"s", u"k", -99), -99);
}

TEST(IniIdentList, ReadFloat) {
  struct Case {
    const char* value;
    double expected;
  } cases[] = {
      {"1.5", 1.5}, {"-2e3", -2000}, {"+.5", 0.5}, {"3.", 3},  {"1E-2", 0.01}, {"7", 7},  {"1,5", -1},
      {"abc", -1},  {"inf", -1},     {"nan", -1},  {"1e", -1}, {"", -1},       {".", -1}, {"1e999", -1},
  };
  for (const Case& c : cases) {
    TDoc doc(std::string("[s]\nk=") + c.value + "\n");
    EXPECT_DOUBLE_EQ(doc.FindSection(u"s")->ReadFloat(u"k", -1), c.expected) << c.value;
  }
}

TEST(IniIdentList, ReadBool) {
  struct Case {
    const char* value;
    int expected; // 1 true, 0 false, -1 the default
  } cases[] = {{"1", 1}, {"-1", 1},  {"7", 1},    {"0", 0},           {"true", -1},
               {"", -1}, {"+1", -1}, {"0x1", -1}, {"99999999999", -1}};
  for (const Case& c : cases) {
    TIniSection* s = nullptr;
    TDoc doc(std::string("[s]\nk=") + c.value + "\n");
    s = doc.FindSection(u"s");
    if (c.expected < 0) {
      EXPECT_TRUE(s->ReadBool(u"k", true)) << c.value;
      EXPECT_FALSE(s->ReadBool(u"k", false)) << c.value;
    } else {
      EXPECT_EQ(s->ReadBool(u"k", c.expected == 0), c.expected == 1) << c.value;
    }
  }
  // The document form reads an integer: hexadecimal counts there.
  TDoc doc("[s]\nk=$10\nz=0\n");
  EXPECT_TRUE(doc.ReadBool(u"s", u"k", false));
  EXPECT_FALSE(doc.ReadBool(u"s", u"z", true));
  EXPECT_TRUE(doc.ReadBool(u"s", u"absent", true));
}

TEST(IniIdentList, ListReads) {
  TDoc doc("[s]\n"
           "ints=1, 2,\t3\n"
           "bad3=1,2,a,4\n"
           "bad1=1 ,2\n"
           "empty=\n"
           "strs=a, b ,c,\n"
           "floats=1.5,-2,3e1\n");
  TIniSection* s = doc.FindSection(u"s");
  int32_t ints[3] = {};
  EXPECT_EQ(s->ReadIntegers(u"ints", ints), 3);
  EXPECT_EQ(ints[0] + ints[1] * 10 + ints[2] * 100, 321);
  EXPECT_EQ(s->ReadIntegers(u"bad3", ints), -3);
  EXPECT_EQ(s->ReadIntegers(u"bad1", ints), -1);
  EXPECT_EQ(s->ReadIntegers(u"empty", ints), -1);
  EXPECT_EQ(s->ReadIntegers(u"absent", ints), 0);

  std::u16string strs[5];
  EXPECT_EQ(s->ReadStrings(u"strs", strs), 4);
  EXPECT_EQ(strs[0], u"a");
  EXPECT_EQ(strs[1], u"b ");
  EXPECT_EQ(strs[2], u"c");
  EXPECT_EQ(strs[3], u"");
  EXPECT_EQ(s->ReadStrings(u"empty", strs), 1);
  EXPECT_EQ(strs[0], u"");

  double floats[3] = {};
  EXPECT_EQ(s->ReadFloats(u"floats", floats), 3);
  EXPECT_DOUBLE_EQ(floats[2], 30.0);
}

TEST(IniIdentList, ListReadsStoreOnlyWhatFitsButCountAll) {
  TDoc doc("[s]\nlist=1,2,3,4,5\n");
  TIniSection* s = doc.FindSection(u"s");
  int32_t ints[3] = {0, 0, -7};
  EXPECT_EQ(s->ReadIntegers(u"list", std::span<int32_t>(ints, 2)), 5);
  EXPECT_EQ(ints[0], 1);
  EXPECT_EQ(ints[1], 2);
  EXPECT_EQ(ints[2], -7);
  std::u16string strs[2] = {u"", u"keep"};
  EXPECT_EQ(s->ReadStrings(u"list", std::span<std::u16string>(strs, 1)), 5);
  EXPECT_EQ(strs[0], u"1");
  EXPECT_EQ(strs[1], u"keep");
  EXPECT_EQ(s->ReadStrings(u"list", std::span<std::u16string>()), 5);
}

TEST(IniIdentList, ColourAndGeometryReads) {
  TDoc doc("[s]\n"
           "rgb=255,128,0\n"
           "clamped=300,-5,0\n"
           "two=1,2\n"
           "four=1,2,3,4\n"
           "argb=255,128,0,64\n"
           "pt=3,-4\n"
           "fpt=1.5,-2\n"
           "vec=1,2,3.5\n"
           "rect4=1,2,3,4\n"
           "rect6=1,2,3,4,5,6\n"
           "rect5=1,2,3,4,5\n");
  TIniSection* s = doc.FindSection(u"s");
  const TIniRGB def{9, 9, 9};
  EXPECT_EQ(s->ReadRGB(u"rgb", def), (TIniRGB{0, 128, 255}));
  EXPECT_EQ(s->ReadRGB(u"clamped", def), (TIniRGB{0, 0, 255}));
  EXPECT_EQ(s->ReadRGB(u"two", def), def);
  EXPECT_EQ(s->ReadRGB(u"four", def), def);
  EXPECT_EQ(s->ReadARGB(u"argb", 1), 0x40FF8000u);
  EXPECT_EQ(s->ReadARGB(u"rgb", 1), 1u);
  EXPECT_EQ(s->ReadPoint(u"pt", {}), (TIniPoint{3, -4}));
  EXPECT_EQ(s->ReadPoint(u"vec", {7, 7}), (TIniPoint{7, 7}));
  EXPECT_EQ(s->ReadFloatPoint(u"fpt", {}), (TIniFloatPoint{1.5f, -2.0f}));
  EXPECT_EQ(s->ReadVector3(u"vec", {}), (TIniVector3{1, 2, 3.5f}));
  const TIniFloatRect defRect{9, 9, 9, 9};
  EXPECT_EQ(s->ReadRectPoint(u"rect4", defRect), (TIniRectPoint{{1, 2, 3, 4}, {-1, -1}}));
  EXPECT_EQ(s->ReadRectPoint(u"rect6", defRect), (TIniRectPoint{{1, 2, 3, 4}, {5, 6}}));
  EXPECT_EQ(s->ReadRectPoint(u"rect5", defRect), (TIniRectPoint{defRect, {0, 0}}));
  EXPECT_EQ(s->ReadRectPoint(u"absent", defRect), (TIniRectPoint{defRect, {0, 0}}));
}

TEST(IniIdentList, Enums) {
  TDoc doc("[s]\nmode=fill\nmode2=FILL\n");
  TIniSection* s = doc.FindSection(u"s");
  const std::u16string_view names[] = {u"Fit", u"Fill", u"fill"};
  EXPECT_EQ(s->ReadEnum(u"mode", names, -1), 2);
  EXPECT_EQ(s->ReadEnum(u"mode2", names, -1), -1);
  EXPECT_EQ(s->ReadEnumText(u"mode2", names, -1), 1);
  EXPECT_EQ(s->ReadEnumText(u"absent", names, -1), -1);
}

TEST(IniStorage, AddSectionSeparatesWithOneBlankLine) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"", "[new]\n"},
      {"[a]\nk=1\n", "[a]\nk=1\n\n[new]\n"},
      {"[a]\nk=1\n\n", "[a]\nk=1\n\n[new]\n"},
      {"[a]\n", "[a]\n\n[new]\n"},
      {"[a]\nobject O: T\nend\n", "[a]\nobject O: T\nend\n\n[new]\n"},
  };
  for (const Case& c : cases) {
    TDoc doc(c.text);
    TIniSection* s = doc.AddSection(u"new");
    EXPECT_EQ(doc.AddSection(u"NEW"), s);
    EXPECT_EQ(SaveText(doc), c.expected) << c.text;
  }
}

TEST(IniStorage, WritesCreateSectionsAndKeys) {
  TIniFile doc;
  doc.WriteString(u"Main", u"Title", u"Show");
  doc.WriteInteger(u"Main", u"Count", -12);
  doc.WriteInteger(u"Other", u"x", 5);
  doc.WriteString(u"main", u"title", u"Changed");
  EXPECT_EQ(SaveText(doc), "[Main]\nTitle=Changed\nCount=-12\n\n[Other]\nx=5\n");
  std::vector<std::u16string> names;
  doc.GetSectionNames(names);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Main", u"Other"}));
}

TEST(IniStorage, SameNameSectionsStayIndependent) {
  TDoc doc("[A]\nx=1\n[b]\n[a]\ny=2\n");
  TIniSection* first = doc.FirstSection();
  TIniSection* last = doc.FindSection(u"a");
  ASSERT_NE(first, last);
  EXPECT_EQ(last->ReadString(u"y", u"-"), u"2");
  EXPECT_EQ(last->FindIdent(u"x"), nullptr);
  EXPECT_EQ(first->ReadString(u"x", u"-"), u"1");
  EXPECT_EQ(doc.ReadString(u"a", u"x", u"-"), u"-"); // the document form reads the later one
  std::vector<std::u16string> names;
  doc.GetSectionNames(names);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"b", u"a"}));

  doc.DeleteChild(last);
  ASSERT_EQ(doc.FindSection(u"A"), first);
  EXPECT_EQ(doc.ReadString(u"a", u"x", u"-"), u"1");
  EXPECT_EQ(SaveText(doc), "[A]\nx=1\n[b]\n");
}

TEST(IniStorage, RenamedSectionIsFoundUnderItsNewName) {
  TDoc doc("[old]\nk=1\n");
  doc.FindSection(u"old")->SetName(u"New Name");
  EXPECT_EQ(doc.FindSection(u"old"), nullptr);
  EXPECT_EQ(doc.ReadInteger(u"new name", u"k", 0), 1);
  EXPECT_EQ(SaveText(doc), "[New Name]\nk=1\n");
}

TEST(IniStorage, CloneAndAssignCopyWholeSubtrees) {
  TDoc source("[s]\nk=1\nobject O: T\n  a=2\nend\n");
  TIniFile target;
  source.FindSection(u"s")->Clone(target);
  EXPECT_EQ(SaveText(target), SaveText(source));
  EXPECT_EQ(target.ReadInteger(u"s", u"k", 0), 1);
  EXPECT_EQ(target.FindSection(u"s")->FirstObject()->ReadInteger(u"a", 0), 2);

  // A section cloned into itself copies what it had, once.
  TIniSection* s = source.FindSection(u"s");
  s->Clone(*s);
  EXPECT_EQ(SaveText(source), "[s]\nk=1\nobject O: T\n  a=2\nend\n[s]\nk=1\nobject O: T\n  a=2\nend\n");

  TDoc assigned("[x]\n");
  assigned.AssignChildren(target);
  EXPECT_EQ(SaveText(assigned), SaveText(target));
  EXPECT_EQ(assigned.FindSection(u"x"), nullptr);
  EXPECT_NE(assigned.FindSection(u"s"), nullptr);
}

TEST(IniStorage, MovingItemsKeepsIndexesRight) {
  TDoc doc("[a]\nk=1\n[b]\n");
  TIniIdent* key = doc.FindSection(u"a")->FindIdent(u"k");
  key->SetOwner(*doc.FindSection(u"b"));
  EXPECT_EQ(doc.FindSection(u"a")->FindIdent(u"k"), nullptr);
  EXPECT_EQ(doc.FindSection(u"b")->FindIdent(u"k"), key);
  EXPECT_EQ(SaveText(doc), "[a]\n[b]\nk=1\n");
}

TEST(IniStorage, ProgrammingErrorsAreAssertions) {
  TQuietAssertions quiet;
  TDoc doc("[s]\nk=1\n\n");
  TIniSection* s = doc.FindSection(u"s");
  TIniIdent* key = s->FindIdent(u"k");
  try {
    key->AddChild(MakeOwned<TIniEmptyLine>());
    FAIL();
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("'TIniIdent cann`t has subitems'"), std::string::npos) << e.what();
  }
  try {
    s->LastChild()->RemoveChild(key);
    FAIL();
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("'TIniEmptyLine cann`t has subitems'"), std::string::npos)
        << e.what();
  }
  TIniFile other;
  try {
    doc.Clone(other);
    FAIL();
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("'Method not applicable'"), std::string::npos) << e.what();
  }
  // A collection cannot be put inside itself.
  EXPECT_THROW(s->SetOwner(*s), EAssertion);
  EXPECT_EQ(SaveText(doc), "[s]\nk=1\n\n");
}

TEST(IniStorage, DeepNestingNeitherOverflowsTheStackNorLeaks) {
  std::string text = "[s]\n";
  const int depth = 200000;
  for (int i = 0; i < depth; ++i)
    text += "object\n";
  text += "k=1\n";
  TIniFile doc;
  int errors = 0;
  doc.SetErrorNotify([&](TIniFile&, int code, int, int) { errors += code == kIniErrorObjectsOpen; });
  ASSERT_TRUE(LoadUtf8(doc, text));
  EXPECT_EQ(errors, 1);
  std::vector<std::u16string> lines;
  ASSERT_TRUE(doc.SaveToStrings(lines));
  EXPECT_EQ(lines.size(), static_cast<size_t>(depth) + 2);
  TIniFile copy;
  copy.AssignChildren(doc);
  doc.Clear();
  EXPECT_TRUE(doc.IsEmpty());
  EXPECT_EQ(doc.FindSection(u"s"), nullptr);
}
