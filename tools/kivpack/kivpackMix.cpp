// kivpack mix: plays a composite music document as one channel of a music player on the offline sound
// device and writes what the device mixed, so that authors can hear, and tests can check, a composite
// exactly as the player sounds it.

#include "QuietStderr.h"
#include "kivpackCommands.h"

#include "CompositeMusic.h"
#include "FFMpegConverter.h"
#include "IniLineText.h"
#include "MixerWaveOutDevice.h"
#include "MusicPlayer.h"
#include "TextDecoders.h"
#include "Utf8Conversion.h"
#include "VirtualHost.h"
#include "offline/OfflineSoundOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>

namespace kivpack {
namespace {

using namespace kiv;

const char kMixHelp[] =
    "usage: kivpack mix COMPOSITE -o OUT.wav [-from MS] [-length MS]\n"
    "Plays a composite music document (INI text as an author writes it, or the one-line composite text)\n"
    "as one channel of a music player on the offline sound device, from -from ms (default 0) for\n"
    "-length ms (default: until the channel reports its end), and writes the device's mix as a WAV file\n"
    "in the standard format (PCM, 2 channels, 44100 Hz, 16 bits). Member file names are taken relative\n"
    "to the document's folder. Prints \"length: MS\". Exits 2 when the document cannot be read or a\n"
    "member cannot be opened; nothing is written then.\n";

// Longest a mix may run without -length, past the composite's end: the end report comes after the
// queued sound (at most two seconds) has played.
constexpr int64_t kEndGuardMs = 10000;

bool ParseMs(const std::string& text, int64_t& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end && value >= 0 && value <= kCompositeMaxMs;
}

// The composite text of the document: the file as it is when it holds the one-line form, else the INI
// document it holds. "" when it cannot be read.
std::u16string CompositeTextOfFile(const std::string& path) {
  std::u16string text;
  try {
    TFileStream stream(path, TFileMode::OpenRead);
    TOwned<TTextReader> reader = CreateTextReader(stream);
    char16_t buffer[4096];
    for (size_t n; (n = reader->Read(buffer, 0, std::size(buffer))) > 0;)
      text.append(buffer, n);
  } catch (const std::exception&) {
    return {};
  }
  // The one-line form, possibly ended by a line break (or several texts, one per line).
  if (IsCompositeText(std::u16string_view(text))) {
    std::u16string joined;
    for (char16_t c : text)
      if (c != u'\r' && c != u'\n') joined += c;
    return joined;
  }
  TIniFile document;
  if (!document.LoadFromFile(path)) return {};
  return CompositeTextOf(document);
}

int RunMix(const TArgs& args) {
  std::string input, out;
  int64_t from = 0, length = -1;
  auto usage = [] {
    std::fputs(kMixHelp, stderr);
    return kExitUsage;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "-o") {
      if (!hasValue || !out.empty()) return usage();
      out = args[++i];
    } else if (a == "-from") {
      if (!hasValue || !ParseMs(args[++i], from)) return usage();
    } else if (a == "-length") {
      if (!hasValue || !ParseMs(args[++i], length) || length == 0) return usage();
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else {
      if (!input.empty()) return usage();
      input = a;
    }
  }
  if (input.empty() || out.empty()) return usage();

  auto fail = [](const std::string& text) {
    std::fprintf(stderr, "kivpack mix: %s\n", text.c_str());
    return kExitFailure;
  };
  const std::u16string text = CompositeTextOfFile(input);
  TCompositeParams composite;
  if (text.empty() || !composite.Parse(std::u16string_view(text)))
    return fail("cannot read the composite \"" + input + "\"");
  const std::string utf8Text = Utf16ToUtf8(text);

  const std::filesystem::path folder = std::filesystem::absolute(input).parent_path();
  TQuietStderr quiet;
  TVirtualHost host;
  TOfflineSoundOutput output({441, true});
  output.AttachTo(host);
  TConverterFactory converters;
  RegisterVideoLibraryDecoders(converters);
  TOwned<TMusicPlayerClass> player =
      CreateMusicPlayer(host, MixerWaveOutDeviceFactory(host, output.Factory()), converters);
  if (!player) {
    quiet.Restore();
    return fail("no offline sound device");
  }
  player->SetOpenStreamHandler([folder](void*, const std::string& name) -> TStreamPtr {
    std::string path = name;
    for (char& c : path)
      if (c == '\\') c = '/';
    const std::filesystem::path file(path);
    try {
      return MakeOwned<TFileStream>((file.is_absolute() ? file : folder / file).string(),
                                    TFileMode::OpenRead);
    } catch (const std::exception&) {
      return nullptr;
    }
  });

  // Every member must open as the composite will open it.
  for (size_t i = 0; i < composite.Count(); ++i) {
    TOpenedSoundFile member;
    if (!member.Open(*player, nullptr, composite.Item(i).fileName)) {
      player = nullptr;
      quiet.Restore();
      return fail("cannot open the member \"" + composite.Item(i).fileName + "\"");
    }
  }

  TChannelMusic* channel = player->CreateChannel(utf8Text, static_cast<int>(from));
  if (!channel) {
    player = nullptr;
    quiet.Restore();
    return fail("cannot play the composite \"" + input + "\"");
  }
  bool ended = false;
  channel->SetOnEnd([&](TChannel&) { ended = true; });
  channel->Play(0);
  int64_t played = 0;
  if (length > 0) {
    host.Advance(length);
    played = length;
  } else {
    const int64_t guard = std::max<int64_t>(composite.duration - from, 0) + kEndGuardMs;
    while (!ended && played < guard) {
      host.Advance(1);
      ++played;
    }
  }
  TObj::Free(channel);
  player = nullptr;
  output.Detach();
  quiet.Restore();

  // Written beside the target and renamed, so that a failure leaves nothing behind.
  const std::string temp = out + ".mix-" + std::to_string(::getpid());
  if (!output.WriteWavFile(temp) || std::rename(temp.c_str(), out.c_str()) != 0) {
    std::remove(temp.c_str());
    return fail("cannot write \"" + out + "\"");
  }
  std::printf("length: %lld\n", static_cast<long long>(played));
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

} // namespace

const TCommand kMixCommand = {"mix", "play a composite music document and write the mix as a WAV file",
                              kMixHelp, &RunMix};

} // namespace kivpack
