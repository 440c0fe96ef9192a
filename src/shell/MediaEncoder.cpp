#include "MediaEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <vector>

namespace kiv {

namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

struct TCodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecDeleter>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

struct TPlan {
  const char* muxer;
  const char* videoCodec; // nullptr: no pictures
  const char* soundCodec;
};

TPlan PlanOf(TExportContainer container) {
  switch (container) {
  case TExportContainer::Mp4:
    return {"mp4", "libx264", "aac"};
  case TExportContainer::WebM:
    return {"webm", "libvpx-vp9", "libopus"};
  case TExportContainer::Matroska:
    return {"matroska", "ffv1", "pcm_s16le"};
  case TExportContainer::Wav:
    break;
  }
  return {"wav", nullptr, "pcm_s16le"};
}

// The first format in the codec's list that is among the wanted ones, else the codec's first.
template <class T> T Choose(const T* offered, std::initializer_list<T> wanted, T none) {
  if (!offered) return *wanted.begin();
  for (T w : wanted)
    for (const T* f = offered; *f != none; ++f)
      if (*f == w) return w;
  return offered[0];
}

} // namespace

bool ExportContainerOf(const std::string& path, TExportContainer& container) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".mp4")
    container = TExportContainer::Mp4;
  else if (ext == ".webm")
    container = TExportContainer::WebM;
  else if (ext == ".mkv")
    container = TExportContainer::Matroska;
  else if (ext == ".wav")
    container = TExportContainer::Wav;
  else
    return false;
  return true;
}

const char* ExportExtension(TExportContainer container) {
  switch (container) {
  case TExportContainer::Mp4:
    return ".mp4";
  case TExportContainer::WebM:
    return ".webm";
  case TExportContainer::Matroska:
    return ".mkv";
  case TExportContainer::Wav:
    break;
  }
  return ".wav";
}

struct TMediaEncoder::TState {
  ~TState() {
    sws_freeContext(scaler);
    swr_free(&resampler);
    if (fifo) av_audio_fifo_free(fifo);
    if (format) {
      if (opened) avio_closep(&format->pb);
      avformat_free_context(format);
    }
  }

  AVFormatContext* format = nullptr;
  bool opened = false;
  bool headerWritten = false;
  TSize size;
  // Pictures.
  TCodecPtr video;
  AVStream* videoStream = nullptr;
  TFramePtr picture;
  SwsContext* scaler = nullptr;
  int64_t frames = 0;
  // Sound.
  TCodecPtr sound;
  AVStream* soundStream = nullptr;
  SwrContext* resampler = nullptr;
  AVAudioFifo* fifo = nullptr;
  TFramePtr soundFrame;
  int64_t soundIn = 0;  // stereo frames handed in
  int64_t soundOut = 0; // samples (at the codec's rate) sent to the encoder
  TPacketPtr packet{av_packet_alloc()};

  bool Drain(AVCodecContext* codec, AVStream* stream, std::string& whyNot) {
    for (;;) {
      const int got = avcodec_receive_packet(codec, packet.get());
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
      if (got < 0) {
        whyNot = "encoding failed: " + AvError(got);
        return false;
      }
      av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      const int written = av_interleaved_write_frame(format, packet.get());
      if (written < 0) {
        whyNot = "cannot write: " + AvError(written);
        return false;
      }
    }
  }

  bool Send(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string& whyNot) {
    const int sent = avcodec_send_frame(codec, frame);
    if (sent < 0 && sent != AVERROR_EOF) {
      whyNot = "encoding failed: " + AvError(sent);
      return false;
    }
    return Drain(codec, stream, whyNot);
  }

  // Hands the fifo's sound to the encoder in the codec's frame size; the rest waits unless final.
  bool PumpSound(bool final, std::string& whyNot) {
    const int frameSize = sound->frame_size > 0 ? sound->frame_size : 1024;
    while (av_audio_fifo_size(fifo) >= frameSize || (final && av_audio_fifo_size(fifo) > 0)) {
      const int available = av_audio_fifo_size(fifo);
      const int count = std::min(available, frameSize);
      const bool variable = sound->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
      const bool smallLast = sound->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
      // Encoders with a fixed frame size get the last short frame padded with silence.
      const int samples =
          (count < frameSize && !variable && !smallLast && sound->frame_size > 0) ? frameSize : count;
      TFramePtr frame(av_frame_alloc());
      frame->nb_samples = samples;
      frame->format = sound->sample_fmt;
      frame->sample_rate = sound->sample_rate;
      av_channel_layout_copy(&frame->ch_layout, &sound->ch_layout);
      if (av_frame_get_buffer(frame.get(), 0) < 0) {
        whyNot = "out of memory";
        return false;
      }
      if (samples > count)
        av_samples_set_silence(frame->extended_data, 0, samples, sound->ch_layout.nb_channels,
                               sound->sample_fmt);
      if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->extended_data), count) != count) {
        whyNot = "sound buffer failed";
        return false;
      }
      frame->pts = soundOut;
      soundOut += samples;
      if (!Send(sound.get(), soundStream, frame.get(), whyNot)) return false;
    }
    return true;
  }
};

TMediaEncoder::TMediaEncoder() : state_(std::make_unique<TState>()) {}
TMediaEncoder::~TMediaEncoder() = default;

bool TMediaEncoder::HasVideo() const noexcept {
  return state_->video != nullptr;
}
int64_t TMediaEncoder::FramesWritten() const noexcept {
  return state_->frames;
}
int64_t TMediaEncoder::SoundFramesWritten() const noexcept {
  return state_->soundIn;
}

std::unique_ptr<TMediaEncoder> TMediaEncoder::Open(const std::string& path, TExportContainer container,
                                                   TSize size, int fps, std::string& whyNot) {
  // libav's log level is the library's one setting for the process: an export reports failures itself,
  // in one line, and the encoders' chatter would bury it.
  av_log_set_level(AV_LOG_ERROR);
  std::unique_ptr<TMediaEncoder> encoder(new TMediaEncoder());
  TState& s = *encoder->state_;
  const TPlan plan = PlanOf(container);
  s.size = size;
  if (avformat_alloc_output_context2(&s.format, nullptr, plan.muxer, path.c_str()) < 0 || !s.format) {
    whyNot = std::string("no muxer for ") + plan.muxer;
    return nullptr;
  }
  const bool globalHeader = s.format->oformat->flags & AVFMT_GLOBALHEADER;

  if (plan.videoCodec) {
    const AVCodec* codec = avcodec_find_encoder_by_name(plan.videoCodec);
    if (!codec) {
      whyNot = std::string("no encoder ") + plan.videoCodec;
      return nullptr;
    }
    s.video.reset(avcodec_alloc_context3(codec));
    AVCodecContext& c = *s.video;
    c.width = size.width;
    c.height = size.height;
    c.time_base = {1, fps};
    c.framerate = {fps, 1};
    c.gop_size = std::max(1, fps * 2);
    const bool rgb = container == TExportContainer::Matroska;
    c.pix_fmt =
        rgb ? Choose<AVPixelFormat>(codec->pix_fmts, {AV_PIX_FMT_BGR0, AV_PIX_FMT_RGB32, AV_PIX_FMT_GBRP},
                                    AV_PIX_FMT_NONE)
            : AV_PIX_FMT_YUV420P;
    if ((size.width % 2 || size.height % 2) && c.pix_fmt == AV_PIX_FMT_YUV420P) {
      whyNot = "this container wants an even width and height";
      return nullptr;
    }
    if (globalHeader) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (container == TExportContainer::Mp4) {
      av_dict_set(&options, "preset", "medium", 0);
      av_dict_set(&options, "crf", "18", 0);
    } else if (container == TExportContainer::WebM) {
      av_dict_set(&options, "crf", "31", 0);
      av_dict_set(&options, "b", "0", 0);
      av_dict_set(&options, "row-mt", "1", 0);
      av_dict_set(&options, "deadline", "good", 0);
      av_dict_set(&options, "cpu-used", "4", 0);
    } else {
      av_dict_set(&options, "level", "3", 0);
    }
    const int opened = avcodec_open2(&c, codec, &options);
    av_dict_free(&options);
    if (opened < 0) {
      whyNot = std::string("cannot open ") + plan.videoCodec + ": " + AvError(opened);
      return nullptr;
    }
    s.videoStream = avformat_new_stream(s.format, nullptr);
    s.videoStream->time_base = c.time_base;
    s.videoStream->avg_frame_rate = c.framerate;
    avcodec_parameters_from_context(s.videoStream->codecpar, &c);
    s.picture.reset(av_frame_alloc());
    s.picture->format = c.pix_fmt;
    s.picture->width = c.width;
    s.picture->height = c.height;
    if (av_frame_get_buffer(s.picture.get(), 0) < 0) {
      whyNot = "out of memory";
      return nullptr;
    }
    s.scaler = sws_getContext(size.width, size.height, AV_PIX_FMT_BGRA, size.width, size.height, c.pix_fmt,
                              SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    if (!s.scaler) {
      whyNot = "no picture conversion";
      return nullptr;
    }
  }

  {
    const AVCodec* codec = avcodec_find_encoder_by_name(plan.soundCodec);
    if (!codec) {
      whyNot = std::string("no encoder ") + plan.soundCodec;
      return nullptr;
    }
    s.sound.reset(avcodec_alloc_context3(codec));
    AVCodecContext& c = *s.sound;
    c.sample_fmt = Choose<AVSampleFormat>(
        codec->sample_fmts, {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLT}, AV_SAMPLE_FMT_NONE);
    c.sample_rate = container == TExportContainer::WebM ? 48000 : kSoundRate;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&c.ch_layout, &stereo);
    c.time_base = {1, c.sample_rate};
    if (container == TExportContainer::Mp4) c.bit_rate = 192000;
    if (container == TExportContainer::WebM) c.bit_rate = 160000;
    if (globalHeader) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = avcodec_open2(&c, codec, nullptr);
    if (opened < 0) {
      whyNot = std::string("cannot open ") + plan.soundCodec + ": " + AvError(opened);
      return nullptr;
    }
    s.soundStream = avformat_new_stream(s.format, nullptr);
    s.soundStream->time_base = c.time_base;
    avcodec_parameters_from_context(s.soundStream->codecpar, &c);
    if (swr_alloc_set_opts2(&s.resampler, &c.ch_layout, c.sample_fmt, c.sample_rate, &stereo,
                            AV_SAMPLE_FMT_S16, kSoundRate, 0, nullptr) < 0 ||
        swr_init(s.resampler) < 0) {
      whyNot = "no sound conversion";
      return nullptr;
    }
    s.fifo = av_audio_fifo_alloc(c.sample_fmt, c.ch_layout.nb_channels, 4096);
  }

  const int opened = avio_open(&s.format->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) {
    whyNot = "cannot write \"" + path + "\": " + AvError(opened);
    return nullptr;
  }
  s.opened = true;
  const int header = avformat_write_header(s.format, nullptr);
  if (header < 0) {
    whyNot = "cannot write the container: " + AvError(header);
    return nullptr;
  }
  s.headerWritten = true;
  return encoder;
}

bool TMediaEncoder::AddFrame(const TDevBitmap& frame, std::string& whyNot) {
  TState& s = *state_;
  if (!s.video) return true;
  if (frame.Width() != s.size.width || frame.Height() != s.size.height ||
      frame.Format() != TPixelFormat::pf32bit) {
    whyNot = "a frame of the wrong size";
    return false;
  }
  if (av_frame_make_writable(s.picture.get()) < 0) {
    whyNot = "out of memory";
    return false;
  }
  const uint8_t* source[1] = {frame.ScanLine(0)};
  const int stride[1] = {frame.Pitch()};
  sws_scale(s.scaler, source, stride, 0, frame.Height(), s.picture->data, s.picture->linesize);
  s.picture->pts = s.frames++;
  return s.Send(s.video.get(), s.videoStream, s.picture.get(), whyNot);
}

bool TMediaEncoder::AddSound(std::span<const int16_t> samples, std::string& whyNot) {
  TState& s = *state_;
  const int frames = static_cast<int>(samples.size() / 2);
  if (frames == 0) return true;
  s.soundIn += frames;
  const int room = swr_get_out_samples(s.resampler, frames);
  std::vector<uint8_t*> planes(static_cast<size_t>(s.sound->ch_layout.nb_channels), nullptr);
  if (av_samples_alloc(planes.data(), nullptr, s.sound->ch_layout.nb_channels, room, s.sound->sample_fmt, 0) <
      0) {
    whyNot = "out of memory";
    return false;
  }
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples.data())};
  const int converted = swr_convert(s.resampler, planes.data(), room, in, frames);
  bool ok = converted >= 0 &&
            av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(planes.data()), converted) == converted;
  av_freep(&planes[0]);
  if (!ok) {
    whyNot = "sound conversion failed";
    return false;
  }
  return s.PumpSound(false, whyNot);
}

bool TMediaEncoder::Finish(std::string& whyNot) {
  TState& s = *state_;
  // What the resampler still holds, then the last short frame.
  const int rest = swr_get_out_samples(s.resampler, 0);
  if (rest > 0) {
    std::vector<uint8_t*> planes(static_cast<size_t>(s.sound->ch_layout.nb_channels), nullptr);
    if (av_samples_alloc(planes.data(), nullptr, s.sound->ch_layout.nb_channels, rest, s.sound->sample_fmt,
                         0) >= 0) {
      const int converted = swr_convert(s.resampler, planes.data(), rest, nullptr, 0);
      if (converted > 0) av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(planes.data()), converted);
      av_freep(&planes[0]);
    }
  }
  if (!s.PumpSound(true, whyNot)) return false;
  if (!s.Send(s.sound.get(), s.soundStream, nullptr, whyNot)) return false;
  if (s.video && !s.Send(s.video.get(), s.videoStream, nullptr, whyNot)) return false;
  const int trailer = av_write_trailer(s.format);
  if (trailer < 0) {
    whyNot = "cannot finish the container: " + AvError(trailer);
    return false;
  }
  const int closed = avio_closep(&s.format->pb);
  s.opened = false;
  if (closed < 0) {
    whyNot = "cannot write: " + AvError(closed);
    return false;
  }
  return true;
}

} // namespace kiv
