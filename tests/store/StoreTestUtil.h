#pragma once
// Helpers shared by the store tests.

#include "IniDocument.h"
#include "Streams.h"
#include "Utf8Conversion.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kivtest {

inline std::u16string U(std::string_view utf8) {
  return kiv::Utf8ToUtf16(utf8);
}
inline std::string A(std::u16string_view text) {
  return kiv::Utf16ToUtf8(text);
}

inline std::vector<uint8_t> Bytes(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Loads text given as raw bytes (no mark: Windows-1252).
inline bool LoadBytes(kiv::TIniFile& doc, std::string_view bytes) {
  kiv::TMemoryStream stream(Bytes(bytes));
  return doc.LoadFromStream(stream);
}

// Loads UTF-8 text (a mark is put in front).
inline bool LoadUtf8(kiv::TIniFile& doc, std::string_view text) {
  return LoadBytes(doc, "\xEF\xBB\xBF" + std::string(text));
}

inline std::string SaveBytes(const kiv::TIniFile& doc) {
  kiv::TMemoryStream stream;
  if (!doc.SaveToStream(stream)) return "<failed>";
  return std::string(stream.Data().begin(), stream.Data().end());
}

// The saved document without the mark, lines joined by "\n".
inline std::string SaveText(const kiv::TIniFile& doc) {
  std::vector<std::u16string> lines;
  doc.SaveToStrings(lines);
  std::string text;
  for (const auto& line : lines)
    text += A(line) + "\n";
  return text;
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::vector<uint8_t> data;
  if (!kiv::ReadWholeFile(path.string(), data)) return "<unreadable>";
  return std::string(data.begin(), data.end());
}

inline void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  kiv::TFileStream file(path.string(), kiv::TFileMode::Create);
  file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// A fresh folder under the system's temporary folder, removed at the end of the test.
class TTempDir {
public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivstore.XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

inline std::string Fixture(std::string_view name) {
  return std::string(KIV_TEST_FIXTURES) + "/ini/" + std::string(name);
}

} // namespace kivtest
