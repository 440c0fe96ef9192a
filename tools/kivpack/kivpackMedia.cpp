// kivpack media: describe a sound or video file as the player sees it, so that authors can tell why a
// clip or track misbehaves.

#include "kivpackCommands.h"
#include "kivpackShow.h"

#include "ConverterFactory.h"
#include "DecoderFrameSource.h"
#include "DecoderLibrary.h"
#include "FFMpegConverter.h"

#include <cstdio>
#include <string>

namespace kivpack {
namespace {

using namespace kiv;

const char kMediaHelp[] =
    "usage: kivpack media SHOW NAME | kivpack media FILE\n"
    "Prints the media description of a sound or video file (stored in SHOW under NAME, or on disk)\n"
    "as key: value lines: kind, type, format, channels, rate, bits, duration (ms), offset, size;\n"
    "MPEG audio adds frame_length and vbr; video adds codec, fps, frames, width, height, aspect\n"
    "and interlaced. Exits 2 when the file cannot be described.\n";

const char* AspectText(TAspectKind kind) {
  switch (kind) {
  case TAspectKind::Ratio16x9:
    return "16:9";
  case TAspectKind::Ratio4x3:
    return "4:3";
  default:
    return "other";
  }
}

void PrintAudio(const TMediaInfo& info) {
  const TWaveFormat& f = info.waveFormat;
  std::printf("type: %d\n", static_cast<int>(info.type));
  std::printf("format: %u\n", f.formatTag);
  std::printf("channels: %u\nrate: %u\nbits: %u\n", f.channels, f.samplesPerSec, f.bitsPerSample);
  std::printf("duration: %u\noffset: %u\nsize: %u\n", info.duration, info.dataOffset, info.dataSize);
  if (info.type == TMediaType::Mpeg) {
    std::printf("frame_length: %u\nvbr: %s\n", info.frameLength, info.formatExtension[1] ? "yes" : "no");
    if (info.mpegInRiff) std::printf("mpeg_in_riff: yes\n");
  }
}

int Describe(TOwned<TStream> stream, const std::string& name) {
  // Described as the player does, with the decoders it registers.
  TConverterFactory factory;
  RegisterVideoLibraryDecoders(factory);
  TMediaInfo info;
  const bool described = factory.Describe(*stream, name, info);
  if (described && info.type != TMediaType::VideoLibrary) {
    std::printf("kind: audio\n");
    PrintAudio(info);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
  }
  TStream* raw = stream.release();
  auto source = std::make_unique<TWinVideoSource>(raw, true, name);
  if (!source->IsOpen()) {
    if (!source->Binding())
      std::fprintf(stderr,
                   "kivpack media: \"%s\" is not a wave or MPEG audio file, and the video decoder library "
                   "is not available\n",
                   name.c_str());
    else
      std::fprintf(stderr, "kivpack media: cannot describe \"%s\"\n", name.c_str());
    return kExitFailure;
  }
  TKivMedia* media = source->Media();
  TKivAudioInfo audio{};
  const bool haveAudio = media->audioStreamCount > 0 && source->Binding()->GetAudioInfo(media, 0, audio);
  const bool video = media->videoStream >= 0;
  std::printf("kind: %s\n", video ? "video" : "audio");
  std::printf("type: %d\n", static_cast<int>(TMediaType::VideoLibrary));
  char format[128] = {};
  source->Binding()->Api().GetFormatName(media, format, sizeof(format), 0);
  std::printf("format: %s\n", format);
  std::printf("channels: %d\nrate: %d\nbits: %d\n", haveAudio ? audio.channels : 0,
              haveAudio ? audio.sampleRate : 0, haveAudio ? audio.bitsPerSample : 0);
  std::printf("duration: %lld\noffset: 0\nsize: %lld\n", static_cast<long long>(media->duration / 1000),
              static_cast<long long>(StreamWrapper().Size(*raw)));
  if (video) {
    std::printf("codec: %s\n", source->codecName.c_str());
    std::printf("fps: %.6g\n", source->frameRate);
    std::printf("frames: %lld\n", static_cast<long long>(source->frameCount));
    std::printf("width: %d\nheight: %d\n", source->width, source->height);
    std::printf("aspect: %s\n", AspectText(source->aspectKind));
    std::printf("interlaced: %s\n", !source->interlaced        ? "no"
                                    : source->bottomFieldFirst ? "bottom first"
                                                               : "top first");
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int RunMedia(const TArgs& args) {
  if (args.size() != 1 && args.size() != 2) {
    std::fputs(kMediaHelp, stderr);
    return kExitUsage;
  }
  if (args.size() == 2) {
    auto unpack = OpenShow("media", args[0]);
    if (!unpack) return kExitFailure;
    TOwned<TStream> stream = unpack->OpenEntry(std::string_view(args[1]));
    if (!stream) {
      std::fprintf(stderr, "kivpack media: no stored file \"%s\" in \"%s\"\n", args[1].c_str(),
                   args[0].c_str());
      return kExitFailure;
    }
    return Describe(std::move(stream), args[1]);
  }
  TOwned<TStream> stream;
  try {
    stream.reset(new TFileStream(args[0], TFileMode::OpenRead));
  } catch (const std::exception&) {
    std::fprintf(stderr, "kivpack media: cannot open \"%s\"\n", args[0].c_str());
    return kExitFailure;
  }
  return Describe(std::move(stream), args[0]);
}

} // namespace

const TCommand kMediaCommand = {"media", "describe a sound or video file", kMediaHelp, &RunMedia};

} // namespace kivpack
