/* The video decoder library's interface, shared by libkivffmpeg.so and the player that loads it.
   Plain C: the player finds the 24 functions with dlsym and calls them through these types. Nothing here
   throws; failures are null handles, negative numbers or KIV_NO_PTS. */
#ifndef KIVFFMPEG_H
#define KIVFFMPEG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* "No time stamp": the top bit alone. */
#define KIV_NO_PTS ((int64_t)UINT64_C(0x8000000000000000))

/* Pixel formats of the library. 0 and 2 are what the player asks for; the native format of a clip is one
   of these or KIV_PIX_OTHER_BASE + the decoder's own number. */
#define KIV_PIX_YUV420P 0
#define KIV_PIX_RGB24 2
#define KIV_PIX_BGRA 6  /* 32-bit, bytes B G R A */
#define KIV_PIX_RGBA 30 /* 32-bit, bytes R G B A */
#define KIV_PIX_OTHER_BASE 1000

/* SeekFile flags. */
#define KIV_SEEK_FAST 4
#define KIV_SEEK_AUDIO 8
#define KIV_SEEK_ACCURATE 9

/* Codec numbers, in the numbering the player was written for (see the table in the library). */
#define KIV_CODEC_NONE 0
#define KIV_CODEC_MPEG1 1
#define KIV_CODEC_MPEG2 2
#define KIV_CODEC_H263 4
#define KIV_CODEC_MJPEG 8
#define KIV_CODEC_MPEG4 13
#define KIV_CODEC_MSMPEG4V1 15
#define KIV_CODEC_MSMPEG4V2 16
#define KIV_CODEC_MSMPEG4V3 17
#define KIV_CODEC_WMV1 18
#define KIV_CODEC_WMV2 19
#define KIV_CODEC_H264 28
#define KIV_CODEC_MSVIDEO1 47
#define KIV_CODEC_XVID 63

typedef struct TKivStreamCallbacks {
  int64_t (*read)(void* stream, void* buffer, int64_t count);
  int64_t (*position)(void* stream);
  int64_t (*seek)(void* stream, int64_t offset, int origin); /* 0 start, 1 current, 2 back from end */
  int64_t (*size)(void* stream);
} TKivStreamCallbacks;

struct TKivMediaPrivate;

/* One opened file. The library fills it; fields marked "player" are the player's to write. */
typedef struct TKivMedia {
  int currentFrame; /* player */
  int frameRateNum; /* library; the player may replace the rate */
  int frameRateDen;
  int64_t startTime; /* microseconds; KIV_NO_PTS when none */
  int videoStream;   /* -1 = none */
  int audioStream;   /* -1 = none */
  int64_t duration;  /* microseconds; 0 when unknown */
  int videoCodec;    /* KIV_CODEC_* */
  int width;
  int height;          /* the player may lower 1088 to 1080: buffers then crop */
  int sampleAspectNum; /* 0 = undefined */
  int sampleAspectDen;
  int64_t frameCount;    /* player */
  int nativePixelFormat; /* KIV_PIX_* */
  int ticksPerFrame;     /* 0 = unknown */
  int videoTimeBaseNum;
  int videoTimeBaseDen;
  int avgFrameRateNum; /* 0 = unknown */
  int avgFrameRateDen;
  int audioStreamCount;
  uint8_t* audioBuffer; /* player: KIV_AUDIO_BUFFER_SIZE bytes while audio is open */
  int audioTimeBaseNum;
  int audioTimeBaseDen;
  char codecTag[32];             /* the video stream's tag text, or a stream "comment" metadata value */
  void* userData;                /* player: its own record */
  struct TKivMediaPrivate* priv; /* library */
} TKivMedia;

#define KIV_AUDIO_BUFFER_SIZE 192000

typedef struct TKivFrameBuffer {
  /* A buffer holding the decoder's picture by reference describes the last picture delivered: its size and
     format may differ from the media's after a change inside the stream. */
  uint8_t* data[3];
  int linesize[3];
  int width;
  int height;
  int pixelFormat;
  int interlaced;    /* after GetFrameInfo */
  int topFieldFirst; /* after GetFrameInfo */
  void* priv;        /* library */
} TKivFrameBuffer;

typedef struct TKivAudioInfo {
  int sampleRate;
  int channels;
  int64_t duration; /* microseconds, 0 unknown */
  int codec;
  int bitsPerSample; /* of the samples GetNextAudioFrame delivers: 16 */
} TKivAudioInfo;

typedef TKivMedia* (*TOpenMediaFile)(const char* fileName, void* stream,
                                     const TKivStreamCallbacks* callbacks);
typedef TKivMedia* (*TOpenMediaFile2)(const char* fileName, void* stream,
                                      const TKivStreamCallbacks* callbacks, int flags);
typedef void (*TCloseMediaFile)(TKivMedia* media);
typedef TKivFrameBuffer* (*TAllocBuffer)(TKivMedia* media, int pixelFormat);
typedef TKivFrameBuffer* (*TAllocBufferWithData)(TKivMedia* media, int pixelFormat);
typedef void (*TFreeBuffer)(TKivFrameBuffer* buffer);
typedef int (*TConvertFrame)(TKivMedia* media, TKivFrameBuffer* source, TKivFrameBuffer* target,
                             int sourceFormat, int targetFormat);
typedef int64_t (*TGetNextVideoFrame)(TKivMedia* media, TKivFrameBuffer* buffer, int flag);
typedef int (*TSeekFile)(TKivMedia* media, int streamIndex, int64_t timestamp, int flags);
typedef int (*TGetFormatName)(TKivMedia* media, char* text, int size, int which);
typedef void (*TFlush)(TKivMedia* media);
typedef void (*TFlushVideo)(TKivMedia* media);
typedef void (*TGetFrameInfo)(TKivFrameBuffer* buffer);
typedef int (*TGetDtsPts)(TKivMedia* media, int64_t* dts, int64_t* pts);
typedef int (*TGetDtsPts2)(TKivMedia* media, int streamIndex, int64_t* dts, int64_t* pts);
typedef int (*TGetAudioInfo)(TKivMedia* media, int streamNumber, TKivAudioInfo* info);
typedef int (*TOpenAudioStream)(TKivMedia* media, int streamNumber);
typedef void (*TCloseAudioStream)(TKivMedia* media);
typedef int (*TGetNextAudioFrame)(TKivMedia* media, uint8_t* samples, int* byteCount);
typedef void (*TAfterAudioSeek)(TKivMedia* media, int flag);
typedef int64_t (*TGetCurrentPts)(TKivMedia* media, int streamIndex);
typedef int (*TCreateVideoFile)(const char* fileName, void* params);
typedef int (*TCreateAudioFile)(const char* fileName, void* params);
typedef int (*TCreateVideoAudioFile)(const char* fileName, void* params);
/* Optional: the FFmpeg release the library runs on, for --version. */
typedef const char* (*TKivFFmpegVersion)(void);

#ifdef KIVFFMPEG_BUILD
#define KIVFFMPEG_API __attribute__((visibility("default")))
KIVFFMPEG_API TKivMedia* OpenMediaFile(const char* fileName, void* stream,
                                       const TKivStreamCallbacks* callbacks);
KIVFFMPEG_API TKivMedia* OpenMediaFile2(const char* fileName, void* stream,
                                        const TKivStreamCallbacks* callbacks, int flags);
KIVFFMPEG_API void CloseMediaFile(TKivMedia* media);
KIVFFMPEG_API TKivFrameBuffer* AllocBuffer(TKivMedia* media, int pixelFormat);
KIVFFMPEG_API TKivFrameBuffer* AllocBufferWithData(TKivMedia* media, int pixelFormat);
KIVFFMPEG_API void FreeBuffer(TKivFrameBuffer* buffer);
KIVFFMPEG_API int ConvertFrame(TKivMedia* media, TKivFrameBuffer* source, TKivFrameBuffer* target,
                               int sourceFormat, int targetFormat);
KIVFFMPEG_API int64_t GetNextVideoFrame(TKivMedia* media, TKivFrameBuffer* buffer, int flag);
KIVFFMPEG_API int SeekFile(TKivMedia* media, int streamIndex, int64_t timestamp, int flags);
KIVFFMPEG_API int GetFormatName(TKivMedia* media, char* text, int size, int which);
KIVFFMPEG_API void Flush(TKivMedia* media);
KIVFFMPEG_API void FlushVideo(TKivMedia* media);
KIVFFMPEG_API void GetFrameInfo(TKivFrameBuffer* buffer);
KIVFFMPEG_API int GetDtsPts(TKivMedia* media, int64_t* dts, int64_t* pts);
KIVFFMPEG_API int GetDtsPts2(TKivMedia* media, int streamIndex, int64_t* dts, int64_t* pts);
KIVFFMPEG_API int GetAudioInfo(TKivMedia* media, int streamNumber, TKivAudioInfo* info);
KIVFFMPEG_API int OpenAudioStream(TKivMedia* media, int streamNumber);
KIVFFMPEG_API void CloseAudioStream(TKivMedia* media);
KIVFFMPEG_API int GetNextAudioFrame(TKivMedia* media, uint8_t* samples, int* byteCount);
KIVFFMPEG_API void AfterAudioSeek(TKivMedia* media, int flag);
KIVFFMPEG_API int64_t GetCurrentPts(TKivMedia* media, int streamIndex);
KIVFFMPEG_API int CreateVideoFile(const char* fileName, void* params);
KIVFFMPEG_API int CreateAudioFile(const char* fileName, void* params);
KIVFFMPEG_API int CreateVideoAudioFile(const char* fileName, void* params);
KIVFFMPEG_API const char* KivFFmpegVersion(void);
#endif

#ifdef __cplusplus
}
#endif

#endif
