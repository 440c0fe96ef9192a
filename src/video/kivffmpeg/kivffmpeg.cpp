// libkivffmpeg.so: the video decoder library over FFmpeg 5.1, behind the 24 functions of kivffmpeg.h.
// Every exported function catches everything: nothing may unwind into the player's C calls.

#include "kivffmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

struct TKivMediaPrivate {
  void* stream = nullptr;
  TKivStreamCallbacks callbacks{};
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  int audioIndex = -1; // stream index of the opened audio stream
  std::vector<int> audioStreams;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;  // last decoded video picture
  bool pending = false;      // frame holds a picture the next GetNextVideoFrame hands out (after a seek)
  bool videoDrained = false; // the demuxer ended and the decoder was told so
  AVFrame* audioFrame = nullptr;
  bool audioDrained = false;
  int64_t lastVideoPts = KIV_NO_PTS;
  int64_t lastAudioPts = KIV_NO_PTS;
  int64_t lastDts = KIV_NO_PTS;
  int64_t lastPts = KIV_NO_PTS;
  SwsContext* sws = nullptr;
  SwrContext* swr = nullptr;
  int outChannels = 0;
  std::vector<uint8_t> audioCarry; // converted samples that did not fit the player's buffer
  std::vector<uint8_t> audioScratch;
};

namespace {

struct TBufferPrivate {
  AVFrame* frame = nullptr;
  bool reference = false; // holds the decoder's picture by reference instead of its own planes
};

constexpr int kIoBufferSize = 65536;

int ReadPacketCb(void* opaque, uint8_t* buffer, int size) {
  auto* p = static_cast<TKivMediaPrivate*>(opaque);
  const int64_t got = p->callbacks.read(p->stream, buffer, size);
  if (got <= 0) return AVERROR_EOF;
  return static_cast<int>(got);
}

int64_t SeekCb(void* opaque, int64_t offset, int whence) {
  auto* p = static_cast<TKivMediaPrivate*>(opaque);
  switch (whence & ~AVSEEK_FORCE) {
  case AVSEEK_SIZE:
    return p->callbacks.size(p->stream);
  case SEEK_SET:
    return p->callbacks.seek(p->stream, offset, 0);
  case SEEK_CUR:
    return p->callbacks.seek(p->stream, offset, 1);
  case SEEK_END:
    return p->callbacks.seek(p->stream, -offset, 2);
  default:
    return -1;
  }
}

// The player counts codecs in an older numbering of the library, in which a codec sat at 3 behind
// MPEG-2: from 3 on, every code of FFmpeg 5.1 is one lower. Only the range where both agree is mapped;
// the rest gets numbers above 1000 that the player treats as "other".
int OldCodecNumber(const AVCodecParameters* par) {
  const int id = static_cast<int>(par->codec_id);
  if (par->codec_id == AV_CODEC_ID_MPEG4 && par->codec_tag == MKTAG('X', 'V', 'I', 'D'))
    return KIV_CODEC_XVID;
  if (id <= 2) return id;
  if (id < 62) return id + 1;
  return 1000 + id;
}

int KivPixelFormat(int format) {
  switch (format) {
  case AV_PIX_FMT_YUV420P:
    return KIV_PIX_YUV420P;
  case AV_PIX_FMT_RGB24:
    return KIV_PIX_RGB24;
  case AV_PIX_FMT_BGRA:
    return KIV_PIX_BGRA;
  case AV_PIX_FMT_RGBA:
    return KIV_PIX_RGBA;
  default:
    return KIV_PIX_OTHER_BASE + format;
  }
}

AVPixelFormat AvPixelFormat(int kivFormat) {
  switch (kivFormat) {
  case KIV_PIX_YUV420P:
    return AV_PIX_FMT_YUV420P;
  case KIV_PIX_RGB24:
    return AV_PIX_FMT_RGB24;
  case KIV_PIX_BGRA:
    return AV_PIX_FMT_BGRA;
  case KIV_PIX_RGBA:
    return AV_PIX_FMT_RGBA;
  default:
    if (kivFormat >= KIV_PIX_OTHER_BASE) return static_cast<AVPixelFormat>(kivFormat - KIV_PIX_OTHER_BASE);
    return AV_PIX_FMT_NONE;
  }
}

AVCodecContext* OpenDecoder(AVStream* st) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  if (!ctx) return nullptr;
  if (avcodec_parameters_to_context(ctx, st->codecpar) < 0) {
    avcodec_free_context(&ctx);
    return nullptr;
  }
  ctx->pkt_timebase = st->time_base;
  if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    ctx->thread_count = 0;
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  }
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    avcodec_free_context(&ctx);
    return nullptr;
  }
  return ctx;
}

void ReleaseMedia(TKivMedia* media) {
  if (!media) return;
  TKivMediaPrivate* p = media->priv;
  if (p) {
    avcodec_free_context(&p->video);
    avcodec_free_context(&p->audio);
    avformat_close_input(&p->format);
    if (p->io) {
      av_freep(&p->io->buffer);
      avio_context_free(&p->io);
    }
    av_packet_free(&p->packet);
    av_frame_free(&p->frame);
    av_frame_free(&p->audioFrame);
    sws_freeContext(p->sws);
    swr_free(&p->swr);
    delete p;
  }
  av_free(media->audioBuffer);
  delete media;
}

// Fills the buffer from the decoded picture: by reference when it takes the native format, else converted.
bool Deliver(TKivMedia* media, TKivFrameBuffer* buffer) {
  TKivMediaPrivate* p = media->priv;
  if (!buffer) return true;
  auto* bp = static_cast<TBufferPrivate*>(buffer->priv);
  buffer->interlaced = p->frame->interlaced_frame;
  buffer->topFieldFirst = p->frame->top_field_first;
  if (bp->reference) {
    av_frame_unref(bp->frame);
    if (av_frame_ref(bp->frame, p->frame) < 0) return false;
    for (int i = 0; i < 3; ++i) {
      buffer->data[i] = bp->frame->data[i];
      buffer->linesize[i] = bp->frame->linesize[i];
    }
    // The picture's own size and format: a stream may change either midway, whatever its header said.
    buffer->width = bp->frame->width;
    buffer->height = std::min(bp->frame->height, media->height);
    buffer->pixelFormat = KivPixelFormat(bp->frame->format);
    return true;
  }
  const int height = std::min(p->frame->height, buffer->height);
  p->sws = sws_getCachedContext(p->sws, p->frame->width, height, static_cast<AVPixelFormat>(p->frame->format),
                                buffer->width, height, AvPixelFormat(buffer->pixelFormat), SWS_BILINEAR,
                                nullptr, nullptr, nullptr);
  if (!p->sws) return false;
  return sws_scale(p->sws, p->frame->data, p->frame->linesize, 0, height, bp->frame->data,
                   bp->frame->linesize) > 0;
}

// Decodes the next picture of the video stream into p->frame; false at the end or on an error.
bool DecodeVideo(TKivMedia* media) {
  TKivMediaPrivate* p = media->priv;
  if (!p->video) return false;
  for (;;) {
    const int ret = avcodec_receive_frame(p->video, p->frame);
    if (ret == 0) {
      // Pictures without a time stamp (the first ones after a seek in some MPEG streams) follow the last
      // one by a frame duration; right after a seek they stay unnumbered.
      if (p->frame->best_effort_timestamp == AV_NOPTS_VALUE && p->lastVideoPts != KIV_NO_PTS) {
        AVStream* st = p->format->streams[media->videoStream];
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        int64_t step = p->frame->pkt_duration;
        if (step <= 0 && rate.num > 0 && rate.den > 0) step = av_rescale_q(1, av_inv_q(rate), st->time_base);
        p->frame->best_effort_timestamp = p->lastVideoPts + std::max<int64_t>(step, 1);
      }
      p->lastVideoPts = p->frame->best_effort_timestamp;
      return true;
    }
    if (ret != AVERROR(EAGAIN)) return false;
    if (p->videoDrained) return false;
    const int read = av_read_frame(p->format, p->packet);
    if (read < 0) {
      p->videoDrained = true;
      avcodec_send_packet(p->video, nullptr);
      continue;
    }
    if (p->packet->stream_index == media->videoStream) {
      p->lastDts = p->packet->dts;
      p->lastPts = p->packet->pts;
      const int sent = avcodec_send_packet(p->video, p->packet);
      (void)sent; // a broken packet is skipped; the decoder resynchronises
    }
    av_packet_unref(p->packet);
  }
}

bool DecodeAudio(TKivMedia* media) {
  TKivMediaPrivate* p = media->priv;
  if (!p->audio) return false;
  for (;;) {
    const int ret = avcodec_receive_frame(p->audio, p->audioFrame);
    if (ret == 0) {
      p->lastAudioPts = p->audioFrame->best_effort_timestamp;
      return true;
    }
    if (ret != AVERROR(EAGAIN)) return false;
    if (p->audioDrained) return false;
    const int read = av_read_frame(p->format, p->packet);
    if (read < 0) {
      p->audioDrained = true;
      avcodec_send_packet(p->audio, nullptr);
      continue;
    }
    if (p->packet->stream_index == p->audioIndex) avcodec_send_packet(p->audio, p->packet);
    av_packet_unref(p->packet);
  }
}

// Decodes the next audio frame and appends it, as interleaved 16-bit samples, to the carry.
bool DecodeAudioToCarry(TKivMedia* media) {
  TKivMediaPrivate* p = media->priv;
  if (!DecodeAudio(media)) return false;
  const int frameBytes = 2 * p->outChannels;
  const int outSamples = swr_get_out_samples(p->swr, p->audioFrame->nb_samples);
  if (outSamples <= 0) return true;
  p->audioScratch.resize(static_cast<size_t>(outSamples) * static_cast<size_t>(frameBytes));
  uint8_t* out = p->audioScratch.data();
  const int converted =
      swr_convert(p->swr, &out, outSamples, const_cast<const uint8_t**>(p->audioFrame->extended_data),
                  p->audioFrame->nb_samples);
  if (converted < 0) return false;
  p->audioCarry.insert(p->audioCarry.end(), p->audioScratch.begin(),
                       p->audioScratch.begin() + static_cast<std::ptrdiff_t>(converted) * frameBytes);
  return true;
}

void FlushVideoState(TKivMediaPrivate* p) {
  if (p->video) avcodec_flush_buffers(p->video);
  p->pending = false;
  p->videoDrained = false;
  p->lastVideoPts = KIV_NO_PTS;
}

void FlushAudioState(TKivMediaPrivate* p) {
  if (p->audio) avcodec_flush_buffers(p->audio);
  p->audioDrained = false;
  p->audioCarry.clear();
  p->lastAudioPts = KIV_NO_PTS;
  if (p->swr) swr_init(p->swr);
}

// Seeks the video to the last picture at or before the timestamp: a keyframe seek can land after it
// (streams whose index is coarse), so seek earlier until the first decoded picture is not late.
int SeekVideoAccurate(TKivMedia* media, int64_t target) {
  TKivMediaPrivate* p = media->priv;
  AVStream* st = p->format->streams[media->videoStream];
  const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, st->time_base));
  int64_t step = second;
  int64_t at = target;
  for (int attempt = 0; attempt < 12; ++attempt) {
    if (av_seek_frame(p->format, media->videoStream, at, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(p->format, media->videoStream, at, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
      return -1;
    FlushVideoState(p);
    const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    // Containers without a keyframe index (MPEG-TS) land between keyframes; the decoder then shows nothing
    // up to the next one, which may lie beyond the end: start earlier.
    bool decoded = DecodeVideo(media);
    for (int skip = 0; decoded && p->frame->best_effort_timestamp == AV_NOPTS_VALUE && skip < 16; ++skip)
      decoded = DecodeVideo(media);
    if (!decoded || p->frame->best_effort_timestamp == AV_NOPTS_VALUE) {
      if (at < start - second) return -1;
      at -= step;
      step *= 2;
      continue;
    }
    const int64_t got = p->frame->best_effort_timestamp;
    if (got <= target || at < start - second) {
      p->pending = true;
      return 0;
    }
    at -= step;
    step *= 2;
  }
  p->pending = true;
  return 0;
}

int AudioStreamIndex(TKivMedia* media, int number) {
  TKivMediaPrivate* p = media->priv;
  if (number < 0 || number >= static_cast<int>(p->audioStreams.size())) return -1;
  return p->audioStreams[static_cast<size_t>(number)];
}

int OutputChannels(int channels) {
  return channels == 1 || channels == 2 || channels == 6 ? channels : 2;
}

} // namespace

extern "C" {

TKivMedia* OpenMediaFile2(const char* fileName, void* stream, const TKivStreamCallbacks* callbacks, int) {
  TKivMedia* media = nullptr;
  try {
    if (!callbacks || !callbacks->read || !callbacks->seek || !callbacks->size) return nullptr;
    media = new TKivMedia{};
    media->priv = new TKivMediaPrivate;
    TKivMediaPrivate* p = media->priv;
    p->stream = stream;
    p->callbacks = *callbacks;
    media->videoStream = -1;
    media->audioStream = -1;
    media->startTime = KIV_NO_PTS;

    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer) throw 0;
    p->io = avio_alloc_context(ioBuffer, kIoBufferSize, 0, p, &ReadPacketCb, nullptr, &SeekCb);
    if (!p->io) {
      av_free(ioBuffer);
      throw 0;
    }
    p->format = avformat_alloc_context();
    if (!p->format) throw 0;
    p->format->pb = p->io;
    p->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The name is only a hint for probing; the bytes come through the callbacks.
    if (avformat_open_input(&p->format, fileName ? fileName : "", nullptr, nullptr) < 0) throw 0;
    if (avformat_find_stream_info(p->format, nullptr) < 0) throw 0;
    p->packet = av_packet_alloc();
    p->frame = av_frame_alloc();
    p->audioFrame = av_frame_alloc();
    if (!p->packet || !p->frame || !p->audioFrame) throw 0;

    int videoIndex = -1;
    for (unsigned i = 0; i < p->format->nb_streams; ++i) {
      AVStream* st = p->format->streams[i];
      if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) p->audioStreams.push_back(static_cast<int>(i));
      if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
          !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && videoIndex < 0)
        videoIndex = static_cast<int>(i);
    }
    const int best = av_find_best_stream(p->format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (best >= 0 && !(p->format->streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC))
      videoIndex = best;
    media->audioStreamCount = static_cast<int>(p->audioStreams.size());
    if (!p->audioStreams.empty()) {
      const int bestAudio = av_find_best_stream(p->format, AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
      media->audioStream = bestAudio >= 0 ? bestAudio : p->audioStreams[0];
    }
    if (videoIndex >= 0) {
      AVStream* st = p->format->streams[videoIndex];
      p->video = OpenDecoder(st);
      if (p->video) {
        media->videoStream = videoIndex;
        const AVCodecParameters* par = st->codecpar;
        AVRational rate = st->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = st->avg_frame_rate;
        media->frameRateNum = rate.num;
        media->frameRateDen = rate.den;
        media->avgFrameRateNum = st->avg_frame_rate.num;
        media->avgFrameRateDen = st->avg_frame_rate.den;
        media->ticksPerFrame = 0; // 5.1's rates are already per frame
        media->videoCodec = OldCodecNumber(par);
        media->width = par->width;
        media->height = par->height;
        AVRational sar = av_guess_sample_aspect_ratio(p->format, st, nullptr);
        media->sampleAspectNum = sar.num > 0 && sar.den > 0 ? sar.num : 0;
        media->sampleAspectDen = sar.num > 0 && sar.den > 0 ? sar.den : 0;
        media->nativePixelFormat = KivPixelFormat(p->video->pix_fmt);
        media->videoTimeBaseNum = st->time_base.num;
        media->videoTimeBaseDen = st->time_base.den;
        char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
        if (par->codec_tag) av_fourcc_make_string(tag, par->codec_tag);
        std::snprintf(media->codecTag, sizeof(media->codecTag), "%s", tag);
        // An interlace marker written into the file's comment by the authoring tool.
        const AVDictionaryEntry* comment = av_dict_get(p->format->metadata, "comment", nullptr, 0);
        if (!comment) comment = av_dict_get(st->metadata, "comment", nullptr, 0);
        if (comment && std::strncmp(comment->value, "Brask_ITF", 9) == 0)
          std::snprintf(media->codecTag, sizeof(media->codecTag), "%s", comment->value);
      }
    }
    if (media->audioStream >= 0) {
      AVStream* st = p->format->streams[media->audioStream];
      media->audioTimeBaseNum = st->time_base.num;
      media->audioTimeBaseDen = st->time_base.den;
    }
    media->startTime = p->format->start_time; // AV_NOPTS_VALUE is KIV_NO_PTS
    media->duration = p->format->duration == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(0, p->format->duration);
    if (media->videoStream < 0 && media->audioStreamCount == 0) throw 0;
    return media;
  } catch (...) {
    ReleaseMedia(media);
    return nullptr;
  }
}

TKivMedia* OpenMediaFile(const char* fileName, void* stream, const TKivStreamCallbacks* callbacks) {
  return OpenMediaFile2(fileName, stream, callbacks, 0);
}

void CloseMediaFile(TKivMedia* media) {
  try {
    ReleaseMedia(media);
  } catch (...) {
  }
}

TKivFrameBuffer* AllocBufferWithData(TKivMedia* media, int pixelFormat) {
  TKivFrameBuffer* buffer = nullptr;
  try {
    if (!media || media->width <= 0 || media->height <= 0) return nullptr;
    const AVPixelFormat format = AvPixelFormat(pixelFormat);
    if (format == AV_PIX_FMT_NONE) return nullptr;
    buffer = new TKivFrameBuffer{};
    auto* bp = new TBufferPrivate;
    buffer->priv = bp;
    bp->frame = av_frame_alloc();
    if (!bp->frame) throw 0;
    bp->frame->format = format;
    bp->frame->width = media->width;
    bp->frame->height = media->height;
    if (av_frame_get_buffer(bp->frame, 0) < 0) throw 0;
    for (int i = 0; i < 3; ++i) {
      buffer->data[i] = bp->frame->data[i];
      buffer->linesize[i] = bp->frame->linesize[i];
    }
    buffer->width = media->width;
    buffer->height = media->height;
    buffer->pixelFormat = pixelFormat;
    return buffer;
  } catch (...) {
    FreeBuffer(buffer);
    return nullptr;
  }
}

TKivFrameBuffer* AllocBuffer(TKivMedia* media, int pixelFormat) {
  try {
    if (!media) return nullptr;
    if (pixelFormat != media->nativePixelFormat) return AllocBufferWithData(media, pixelFormat);
    auto* buffer = new TKivFrameBuffer{};
    auto* bp = new TBufferPrivate;
    buffer->priv = bp;
    bp->reference = true;
    bp->frame = av_frame_alloc();
    if (!bp->frame) {
      FreeBuffer(buffer);
      return nullptr;
    }
    buffer->width = media->width;
    buffer->height = media->height;
    buffer->pixelFormat = pixelFormat;
    return buffer;
  } catch (...) {
    return nullptr;
  }
}

void FreeBuffer(TKivFrameBuffer* buffer) {
  if (!buffer) return;
  if (auto* bp = static_cast<TBufferPrivate*>(buffer->priv)) {
    av_frame_free(&bp->frame);
    delete bp;
  }
  delete buffer;
}

int ConvertFrame(TKivMedia* media, TKivFrameBuffer* source, TKivFrameBuffer* target, int sourceFormat,
                 int targetFormat) {
  try {
    if (!media || !source || !target || !source->data[0] || !target->data[0]) return -1;
    TKivMediaPrivate* p = media->priv;
    // A 1088-line picture goes into a 1080-line buffer by dropping the bottom lines, not by scaling.
    const int height = std::min(source->height, target->height);
    p->sws =
        sws_getCachedContext(p->sws, source->width, height, AvPixelFormat(sourceFormat), target->width,
                             height, AvPixelFormat(targetFormat), SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!p->sws) return -1;
    target->interlaced = source->interlaced;
    target->topFieldFirst = source->topFieldFirst;
    return sws_scale(p->sws, source->data, source->linesize, 0, height, target->data, target->linesize) > 0
               ? 0
               : -1;
  } catch (...) {
    return -1;
  }
}

int64_t GetNextVideoFrame(TKivMedia* media, TKivFrameBuffer* buffer, int) {
  try {
    if (!media || media->videoStream < 0) return KIV_NO_PTS;
    TKivMediaPrivate* p = media->priv;
    if (p->pending)
      p->pending = false;
    else if (!DecodeVideo(media))
      return KIV_NO_PTS;
    if (!Deliver(media, buffer)) return KIV_NO_PTS;
    return p->frame->best_effort_timestamp;
  } catch (...) {
    return KIV_NO_PTS;
  }
}

int SeekFile(TKivMedia* media, int streamIndex, int64_t timestamp, int flags) {
  try {
    if (!media) return -1;
    TKivMediaPrivate* p = media->priv;
    if (flags == KIV_SEEK_ACCURATE) {
      if (media->videoStream < 0) return -1;
      return SeekVideoAccurate(media, timestamp);
    }
    if (flags == KIV_SEEK_AUDIO) {
      const int index = streamIndex >= 0 ? streamIndex : p->audioIndex;
      if (index < 0) return -1;
      const int ret = av_seek_frame(p->format, index, timestamp, AVSEEK_FLAG_BACKWARD);
      FlushAudioState(p);
      return ret < 0 ? -1 : 0;
    }
    const int index = streamIndex >= 0 ? streamIndex : media->videoStream;
    const int ret = av_seek_frame(p->format, index, timestamp, AVSEEK_FLAG_BACKWARD);
    FlushVideoState(p);
    FlushAudioState(p);
    return ret < 0 ? -1 : 0;
  } catch (...) {
    return -1;
  }
}

int GetFormatName(TKivMedia* media, char* text, int size, int) {
  if (!media || !text || size <= 0 || !media->priv->format || !media->priv->format->iformat) return 0;
  const int n = std::snprintf(text, static_cast<size_t>(size), "%s", media->priv->format->iformat->name);
  return std::min(n, size - 1);
}

void Flush(TKivMedia* media) {
  if (!media) return;
  try {
    FlushVideoState(media->priv);
    FlushAudioState(media->priv);
  } catch (...) {
  }
}

void FlushVideo(TKivMedia* media) {
  if (!media) return;
  try {
    FlushVideoState(media->priv);
  } catch (...) {
  }
}

void GetFrameInfo(TKivFrameBuffer*) {
  // Deliver and ConvertFrame keep the flags current; nothing left to read.
}

int GetDtsPts(TKivMedia* media, int64_t* dts, int64_t* pts) {
  if (!media) return -1;
  if (dts) *dts = media->priv->lastDts;
  if (pts) *pts = media->priv->lastPts;
  return 0;
}

int GetDtsPts2(TKivMedia* media, int, int64_t* dts, int64_t* pts) {
  return GetDtsPts(media, dts, pts);
}

int GetAudioInfo(TKivMedia* media, int streamNumber, TKivAudioInfo* info) {
  if (!media || !info) return -1;
  const int index = AudioStreamIndex(media, streamNumber);
  if (index < 0) return -1;
  const AVStream* st = media->priv->format->streams[index];
  info->sampleRate = st->codecpar->sample_rate;
  info->channels = OutputChannels(st->codecpar->ch_layout.nb_channels);
  info->duration = st->duration != AV_NOPTS_VALUE
                       ? av_rescale_q(st->duration, st->time_base, AVRational{1, 1000000})
                       : media->duration;
  info->codec = OldCodecNumber(st->codecpar);
  info->bitsPerSample = 16;
  return 0;
}

int OpenAudioStream(TKivMedia* media, int streamNumber) {
  try {
    if (!media) return 0;
    TKivMediaPrivate* p = media->priv;
    const int index = AudioStreamIndex(media, streamNumber);
    if (index < 0) return 0;
    CloseAudioStream(media);
    AVStream* st = p->format->streams[index];
    p->audio = OpenDecoder(st);
    if (!p->audio) return 0;
    p->audioIndex = index;
    media->audioStream = index;
    media->audioTimeBaseNum = st->time_base.num;
    media->audioTimeBaseDen = st->time_base.den;
    p->outChannels = OutputChannels(p->audio->ch_layout.nb_channels);
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, p->outChannels);
    const int ret =
        swr_alloc_set_opts2(&p->swr, &outLayout, AV_SAMPLE_FMT_S16, p->audio->sample_rate,
                            &p->audio->ch_layout, p->audio->sample_fmt, p->audio->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    if (ret < 0 || swr_init(p->swr) < 0) {
      CloseAudioStream(media);
      return 0;
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

void CloseAudioStream(TKivMedia* media) {
  if (!media) return;
  TKivMediaPrivate* p = media->priv;
  avcodec_free_context(&p->audio);
  swr_free(&p->swr);
  p->audioIndex = -1;
  p->audioCarry.clear();
}

int GetNextAudioFrame(TKivMedia* media, uint8_t* samples, int* byteCount) {
  try {
    if (byteCount) *byteCount = 0;
    if (!media || !samples || !byteCount || !media->priv->audio) return -1;
    TKivMediaPrivate* p = media->priv;
    while (p->audioCarry.empty())
      if (!DecodeAudioToCarry(media)) return -1;
    // Never more than the player's buffer holds: the rest waits for the next call.
    const size_t n = std::min<size_t>(p->audioCarry.size(), KIV_AUDIO_BUFFER_SIZE);
    std::memcpy(samples, p->audioCarry.data(), n);
    p->audioCarry.erase(p->audioCarry.begin(), p->audioCarry.begin() + static_cast<std::ptrdiff_t>(n));
    *byteCount = static_cast<int>(n);
    return 0;
  } catch (...) {
    return -1;
  }
}

// One step after a seek: the samples held so far are dropped and the next frame is decoded and held, so
// that its time stamp tells the position and its samples are the next ones handed out.
void AfterAudioSeek(TKivMedia* media, int) {
  try {
    if (media && media->priv->audio) {
      media->priv->audioCarry.clear();
      DecodeAudioToCarry(media);
    }
  } catch (...) {
  }
}

int64_t GetCurrentPts(TKivMedia* media, int streamIndex) {
  if (!media) return KIV_NO_PTS;
  if (streamIndex == media->videoStream && streamIndex >= 0) return media->priv->lastVideoPts;
  if (streamIndex == media->priv->audioIndex && streamIndex >= 0) return media->priv->lastAudioPts;
  return KIV_NO_PTS;
}

// The player never writes media files.
int CreateVideoFile(const char*, void*) {
  return -1;
}
int CreateAudioFile(const char*, void*) {
  return -1;
}
int CreateVideoAudioFile(const char*, void*) {
  return -1;
}

const char* KivFFmpegVersion(void) {
  return av_version_info();
}

} // extern "C"
