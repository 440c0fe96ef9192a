#pragma once
// Shows for tests: whole shows through TKivPacker, and hand-made containers whose structure text and
// trailer values are chosen freely.

#include "PackedShowReader.h"
#include "PackedShowWriter.h"
#include "StreamViews.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace kiv::test {

inline std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

inline std::vector<uint8_t> Pattern(size_t n, int seed) {
  std::vector<uint8_t> data(n);
  for (size_t i = 0; i < n; ++i)
    data[i] = static_cast<uint8_t>(i * 31 + seed + i / 97);
  return data;
}

inline void AppendInt64(std::vector<uint8_t>& out, int64_t value) {
  for (int i = 0; i < 8; ++i)
    out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
}

inline std::vector<uint8_t> XorWithShowKey(std::vector<uint8_t> data) {
  for (size_t i = 0; i < data.size(); ++i)
    data[i] ^= static_cast<uint8_t>(TKivUnpack::kKey[i % 32]);
  return data;
}

// body, then the deflated structure text, the recorded structure position and the magic; form B adds
// `written` (default: the end of the magic, as written in place).
inline std::vector<uint8_t> RawShow(std::vector<uint8_t> body, const std::string& structure,
                                    std::optional<int64_t> recordedPosition = std::nullopt,
                                    TTrailerForm form = TTrailerForm::A,
                                    std::optional<int64_t> written = std::nullopt) {
  const int64_t position = static_cast<int64_t>(body.size());
  const std::string text = "\xEF\xBB\xBF" + structure;
  const auto packed = DeflateRaw(text.data(), text.size());
  body.insert(body.end(), packed.begin(), packed.end());
  AppendInt64(body, recordedPosition.value_or(position));
  body.insert(body.end(), kKivMagic, kKivMagic + 4);
  if (form == TTrailerForm::B) AppendInt64(body, written.value_or(static_cast<int64_t>(body.size())));
  return body;
}

struct TTestEntry {
  std::u16string name;
  std::vector<uint8_t> data;
  uint8_t method;
};

inline std::vector<TTestEntry> SampleEntries() {
  return {{u"Project.kiv", Bytes("\xEF\xBB\xBF[main]\r\nopt_slidescount=1\r\n"), 1},
          {u"C:\\show\\pictures\\big.bin", Pattern(100000, 1), 2},
          {u"pictures\\forest [1].bmp", Pattern(5000, 2), 2},
          {u"raw.dat", Pattern(777, 3), 0},
          {u"empty.txt", {}, 2}};
}

inline std::vector<uint8_t> PackedShow(const std::vector<TTestEntry>& entries, TTrailerForm form,
                                       const std::vector<uint8_t>& prefix = {}) {
  TMemoryStream out;
  TKivPacker packer(out);
  if (!prefix.empty()) packer.Add(u"kivviewer", prefix, 0);
  for (const TTestEntry& e : entries)
    packer.Add(e.name, e.data, e.method);
  packer.Finish(form);
  return out.Data();
}

// A file under the system's temporary folder, removed with the object.
class TTempFile {
public:
  explicit TTempFile(const std::vector<uint8_t>& data, const std::string& tag = "show") {
    static int counter = 0;
    path_ = (std::filesystem::temp_directory_path() /
             ("kiv_container_" + std::to_string(::getpid()) + "_" + tag + "_" + std::to_string(counter++)))
                .string();
    TFileStream file(path_, TFileMode::Create);
    file.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  }
  ~TTempFile() { std::filesystem::remove(path_); }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

inline std::vector<uint8_t> ReadEntry(const TKivUnpack& unpack, std::u16string_view name) {
  TOwned<TStream> stream = unpack.OpenEntry(name);
  if (!stream) return {};
  std::vector<uint8_t> data(static_cast<size_t>(stream->GetSize()));
  stream->ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
  return data;
}

} // namespace kiv::test
