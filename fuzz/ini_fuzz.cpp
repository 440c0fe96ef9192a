// Loads arbitrary bytes as a description file, writes the document back and looks a few names up.

#include "IniDocument.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiv::TMemoryStream input(std::vector<uint8_t>(data, data + size));
  kiv::TIniFile doc;
  int errors = 0;
  doc.SetErrorNotify([&errors](kiv::TIniFile&, int, int, int) { ++errors; });
  doc.LoadFromStream(input);

  kiv::TMemoryStream output;
  if (doc.SaveToStream(output)) {
    // What was written reads back to the same text.
    kiv::TIniFile again;
    kiv::TMemoryStream reread(output.Data());
    if (!again.LoadFromStream(reread)) __builtin_trap();
    kiv::TMemoryStream second;
    if (!again.SaveToStream(second) || second.Data() != output.Data()) __builtin_trap();
  }

  std::vector<std::u16string> names;
  doc.GetSectionNames(names);
  for (const auto& name : names) {
    kiv::TIniSection* section = doc.FindSection(name);
    if (!section) __builtin_trap();
    (void)section->ReadInteger(u"Effect_Type", 0);
    int32_t values[4];
    (void)section->ReadIntegers(u"Color", values);
    (void)section->ReadRectPoint(u"Rect", {});
    for (kiv::TIniObject* object = section->FirstObject(); object; object = object->NextSibling())
      (void)object->GetObjectType();
  }
  doc.WriteString(u"main", u"opt_scr_full", u"1");
  if (doc.ReadInteger(u"Main", u"OPT_SCR_FULL", 0) != 1) __builtin_trap();
  return 0;
}
