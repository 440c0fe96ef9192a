// kivpack decode: decode a sound file as the player would play it and write what comes out as a WAV file,
// so that authors can hear, and tests can compare, exactly what a show's music sounds like.

#include "QuietStderr.h"
#include "kivpackCommands.h"
#include "kivpackShow.h"

#include "ConverterFactory.h"
#include "FFMpegConverter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace kivpack {
namespace {

using namespace kiv;

const char kDecodeHelp[] =
    "usage: kivpack decode FILE -o OUT.wav | kivpack decode SHOW NAME -o OUT.wav\n"
    "Decodes a sound file (on disk, or stored in SHOW under NAME) through the converter the player\n"
    "picks for it, from start to end, and writes the sound as a WAV file in the standard format\n"
    "(PCM, 2 channels, 44100 Hz, 16 bits). Prints \"converter: NAME\" (wav, adpcm, mpeg, ogg or\n"
    "ffmpeg) and \"frames: N\", the sample frames written. Exits 2 when the file cannot be described\n"
    "or decoded; nothing is written then.\n";

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v & 0xFFFF);
  PutLe16(p + 2, v >> 16);
}

void WaveHeader(uint8_t header[44], uint32_t dataBytes) {
  const TWaveFormat f = StandardWaveFormat();
  std::memcpy(header, "RIFF", 4);
  PutLe32(header + 4, 36 + dataBytes);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLe32(header + 16, 16);
  PutLe16(header + 20, f.formatTag);
  PutLe16(header + 22, f.channels);
  PutLe32(header + 24, f.samplesPerSec);
  PutLe32(header + 28, f.avgBytesPerSec);
  PutLe16(header + 32, f.blockAlign);
  PutLe16(header + 34, f.bitsPerSample);
  std::memcpy(header + 36, "data", 4);
  PutLe32(header + 40, dataBytes);
}

// A WAV file written beside its target under a temporary name; only Commit puts it in place, so a
// failed decode leaves nothing behind.
class TWaveWriter {
public:
  explicit TWaveWriter(const std::string& target) : target_(target), temp_(target + ".XXXXXX") {
    const int fd = ::mkstemp(temp_.data());
    if (fd < 0) {
      error_ = std::strerror(errno);
      temp_.clear();
      return;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
      error_ = std::strerror(errno);
      ::close(fd);
      return;
    }
    uint8_t header[44];
    WaveHeader(header, 0);
    Write(header, sizeof(header));
  }
  ~TWaveWriter() {
    if (file_) std::fclose(file_);
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
  }
  TWaveWriter(const TWaveWriter&) = delete;
  TWaveWriter& operator=(const TWaveWriter&) = delete;

  bool Ok() const { return file_ != nullptr && error_.empty(); }
  const std::string& Error() const { return error_; }
  int64_t DataBytes() const { return dataBytes_; }

  void Append(const uint8_t* data, int64_t bytes) {
    if (!Ok()) return;
    // The sizes in the header are 32-bit.
    if (dataBytes_ + bytes > int64_t(UINT32_MAX) - 36) {
      error_ = "the sound is too long for a WAV file";
      return;
    }
    if (Write(data, bytes)) dataBytes_ += bytes;
  }

  bool Commit() {
    if (!Ok()) return false;
    uint8_t header[44];
    WaveHeader(header, static_cast<uint32_t>(dataBytes_));
    if (std::fseek(file_, 0, SEEK_SET) != 0 || !Write(header, sizeof(header))) return false;
    const bool flushed = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
      error_ = std::strerror(errno);
      return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      error_ = std::strerror(errno);
      return false;
    }
    committed_ = true;
    return true;
  }

private:
  bool Write(const void* data, int64_t bytes) {
    if (bytes > 0 && std::fwrite(data, 1, static_cast<size_t>(bytes), file_) != static_cast<size_t>(bytes)) {
      error_ = std::strerror(errno);
      return false;
    }
    return true;
  }

  std::string target_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  std::string error_;
  int64_t dataBytes_ = 0;
  bool committed_ = false;
};

int Decode(TStream& stream, const std::string& name, const std::string& out) {
  TQuietStderr quiet;
  auto fail = [&](const std::string& text) {
    quiet.Restore();
    std::fprintf(stderr, "kivpack decode: %s\n", text.c_str());
    return kExitFailure;
  };
  TConverterFactory factory;
  RegisterVideoLibraryDecoders(factory);
  TMediaInfo info;
  if (!factory.Describe(stream, name, info)) return fail("cannot describe \"" + name + "\"");
  TOwned<TWavConverter> converter = factory.CreateOpened(&stream, name, info);
  if (!converter) return fail("no converter can open \"" + name + "\"");
  converter->SetTarget(StandardWaveFormat());

  TWaveWriter writer(out);
  if (!writer.Ok()) return fail("cannot create \"" + out + "\": " + writer.Error());
  const bool complete =
      converter->DecodeToEnd([&](const uint8_t* data, int64_t bytes) { writer.Append(data, bytes); });
  const int64_t frames = writer.DataBytes() / StandardWaveFormat().blockAlign;
  if (!complete)
    return fail("decoding \"" + name + "\" failed after " + std::to_string(frames) + " frames");
  if (!writer.Ok()) return fail("cannot write \"" + out + "\": " + writer.Error());
  if (frames == 0 && info.duration > 0) return fail("no sound decoded from \"" + name + "\"");
  if (!writer.Commit()) return fail("cannot write \"" + out + "\": " + writer.Error());
  quiet.Restore();
  std::printf("converter: %s\nframes: %lld\n", converter->KindName(), static_cast<long long>(frames));
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int RunDecode(const TArgs& args) {
  std::vector<std::string> positional;
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 >= args.size() || !out.empty()) {
        std::fputs(kDecodeHelp, stderr);
        return kExitUsage;
      }
      out = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (out.empty() || positional.empty() || positional.size() > 2) {
    std::fputs(kDecodeHelp, stderr);
    return kExitUsage;
  }
  if (positional.size() == 2) {
    auto unpack = OpenShow("decode", positional[0]);
    if (!unpack) return kExitFailure;
    TStreamPtr stream = unpack->OpenEntry(std::string_view(positional[1]));
    if (!stream) {
      std::fprintf(stderr, "kivpack decode: no stored file \"%s\" in \"%s\"\n", positional[1].c_str(),
                   positional[0].c_str());
      return kExitFailure;
    }
    return Decode(*stream, positional[1], out);
  }
  TStreamPtr stream;
  try {
    stream.reset(new TFileStream(positional[0], TFileMode::OpenRead));
  } catch (const std::exception&) {
    std::fprintf(stderr, "kivpack decode: cannot open \"%s\"\n", positional[0].c_str());
    return kExitFailure;
  }
  return Decode(*stream, positional[0], out);
}

} // namespace

const TCommand kDecodeCommand = {"decode", "decode a sound file to a WAV file as the player plays it",
                                 kDecodeHelp, &RunDecode};

} // namespace kivpack
