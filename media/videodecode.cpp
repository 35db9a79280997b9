// videodecode.cpp — pictures and sound out of any file FFmpeg reads, for the
// movie textures and the video played over the view.
//
// Everything runs on the GUI thread, so nothing here may wait on a file for
// long: FFmpeg's interrupt callback ends any read past its deadline, probing
// reads a bounded amount, and a read that goes through many packets without
// a picture gives up. Only local files are opened ("file" is the only
// protocol allowed), so a playlist in a hostile file cannot reach further.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "media/media.h"

namespace {

constexpr int kOpenMs = 4000;   // opening and probing a file
constexpr int kReadMs = 1500;   // one picture
constexpr int kPacketsPerPicture = 4096;
constexpr int kLargestSide = 8192;

int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct ZvVideoDecoder {
  std::string who;
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  int videoStream = -1, audioStream = -1;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* scaler = nullptr;
  SwrContext* resampler = nullptr;
  int outWidth = 0, outHeight = 0;
  int64_t deadline = 0;
  bool ended = false;  // the file gave its last packet; the decoder is drained
  ZvVideoSoundSink sink = nullptr;
  void* sinkUser = nullptr;
  std::vector<int16_t> samples;
};

namespace {

int interrupted(void* data) {
  auto* d = static_cast<ZvVideoDecoder*>(data);
  return nowMs() > d->deadline ? 1 : 0;
}

std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

AVCodecContext* openCodec(AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  // One thread: the pictures come one at a time on the GUI thread, and a
  // broken stream then cannot leave work running behind our back.
  c->thread_count = 1;
  if (avcodec_parameters_to_context(c, stream->codecpar) < 0 || avcodec_open2(c, codec, nullptr) < 0) {
    avcodec_free_context(&c);
    return nullptr;
  }
  return c;
}

// Sound frames go to the sink as 16-bit interleaved samples at their own
// rate and channel count (at most two).
void deliverSound(ZvVideoDecoder* d, AVFrame* f) {
  if (!d->sink || f->nb_samples <= 0 || f->sample_rate <= 0) return;
  int channels = f->ch_layout.nb_channels >= 2 ? 2 : 1;
  if (!d->resampler) {
    AVChannelLayout out;
    av_channel_layout_default(&out, channels);
    if (swr_alloc_set_opts2(&d->resampler, &out, AV_SAMPLE_FMT_S16, f->sample_rate, &f->ch_layout,
                            AVSampleFormat(f->format), f->sample_rate, 0, nullptr) < 0 ||
        swr_init(d->resampler) < 0) {
      swr_free(&d->resampler);
      d->sink = nullptr;  // this file plays silent
      return;
    }
  }
  int most = swr_get_out_samples(d->resampler, f->nb_samples);
  if (most <= 0) return;
  d->samples.resize(size_t(most) * size_t(channels));
  auto* out = reinterpret_cast<uint8_t*>(d->samples.data());
  int n = swr_convert(d->resampler, &out, most, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
  if (n > 0) d->sink(d->sinkUser, d->samples.data(), n, channels, f->sample_rate);
}

void decodeSound(ZvVideoDecoder* d, const AVPacket* p) {
  if (!d->audio || !d->sink) return;
  if (avcodec_send_packet(d->audio, p) < 0) return;
  while (avcodec_receive_frame(d->audio, d->frame) == 0) {
    deliverSound(d, d->frame);
    av_frame_unref(d->frame);
  }
}

int toRgba(ZvVideoDecoder* d, AVFrame* f, uint8_t* rgba) {
  if (f->width <= 0 || f->height <= 0 || f->width > kLargestSide || f->height > kLargestSide) return -1;
  d->scaler = sws_getCachedContext(d->scaler, f->width, f->height, AVPixelFormat(f->format), d->outWidth,
                                   d->outHeight, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!d->scaler) return -1;
  uint8_t* planes[4] = {rgba, nullptr, nullptr, nullptr};
  int strides[4] = {4 * d->outWidth, 0, 0, 0};
  return sws_scale(d->scaler, f->data, f->linesize, 0, f->height, planes, strides) > 0 ? 0 : -1;
}

}  // namespace

ZvVideoDecoder* zvOpenVideo(const char* file, const char* who) {
  if (!who) who = "zvOpenVideo";
  if (!file || !*file) {
    zvWarning("%s: no file to play", who);
    return nullptr;
  }
  av_log_set_level(AV_LOG_QUIET);  // our own messages say what went wrong
  auto* d = new ZvVideoDecoder;
  d->who = who;
  auto fail = [&](const char* what, int code) {
    if (code)
      zvWarning("%s: %s: %s (%s)", who, file, what, errorText(code).c_str());
    else
      zvWarning("%s: %s: %s", who, file, what);
    zvCloseVideo(d);
    return nullptr;
  };
  d->format = avformat_alloc_context();
  if (!d->format) return fail("out of memory", 0);
  d->format->interrupt_callback = {interrupted, d};
  d->format->probesize = 4 << 20;
  d->format->max_analyze_duration = 5 * int64_t(AV_TIME_BASE);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  d->deadline = nowMs() + kOpenMs;
  int r = avformat_open_input(&d->format, file, nullptr, &options);
  av_dict_free(&options);
  if (r < 0) return fail("cannot be opened as a video", r);
  r = avformat_find_stream_info(d->format, nullptr);
  if (r < 0) return fail("cannot be read as a video", r);
  d->videoStream = av_find_best_stream(d->format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (d->videoStream < 0) return fail("holds no pictures", 0);
  AVStream* vs = d->format->streams[d->videoStream];
  if (vs->codecpar->width <= 0 || vs->codecpar->height <= 0 || vs->codecpar->width > kLargestSide ||
      vs->codecpar->height > kLargestSide)
    return fail("has pictures of no usable size", 0);
  d->video = openCodec(vs);
  if (!d->video) return fail("has pictures in a form that cannot be decoded", 0);
  d->audioStream = av_find_best_stream(d->format, AVMEDIA_TYPE_AUDIO, -1, d->videoStream, nullptr, 0);
  if (d->audioStream >= 0) d->audio = openCodec(d->format->streams[d->audioStream]);
  if (!d->audio) d->audioStream = -1;
  d->packet = av_packet_alloc();
  d->frame = av_frame_alloc();
  if (!d->packet || !d->frame) return fail("out of memory", 0);
  d->outWidth = vs->codecpar->width;
  d->outHeight = vs->codecpar->height;
  return d;
}

void zvCloseVideo(ZvVideoDecoder* d) {
  if (!d) return;
  sws_freeContext(d->scaler);
  swr_free(&d->resampler);
  av_frame_free(&d->frame);
  av_packet_free(&d->packet);
  avcodec_free_context(&d->video);
  avcodec_free_context(&d->audio);
  avformat_close_input(&d->format);
  delete d;
}

void zvGetVideoInfo(const ZvVideoDecoder* d, ZvVideoInfo* info) {
  if (!info) return;
  *info = {};
  if (!d) return;
  AVStream* vs = d->format->streams[d->videoStream];
  info->width = vs->codecpar->width;
  info->height = vs->codecpar->height;
  AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
  info->frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
  info->duration = d->format->duration > 0 ? double(d->format->duration) / AV_TIME_BASE : 0;
  info->hasSound = d->audio != nullptr;
}

int zvSetVideoOutputSize(ZvVideoDecoder* d, int width, int height) {
  if (!d || width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) return ZV_FAIL;
  d->outWidth = width;
  d->outHeight = height;
  return ZV_OK;
}

void zvSetVideoSoundSink(ZvVideoDecoder* d, ZvVideoSoundSink sink, void* user) {
  if (!d) return;
  d->sink = sink;
  d->sinkUser = user;
}

int zvReadVideoFrame(ZvVideoDecoder* d, uint8_t* rgba, double* seconds) {
  if (!d || !rgba) return -1;
  d->deadline = nowMs() + kReadMs;
  AVStream* vs = d->format->streams[d->videoStream];
  for (int packets = 0; packets <= kPacketsPerPicture; ++packets) {
    int r = avcodec_receive_frame(d->video, d->frame);
    if (r == 0) {
      int64_t pts = d->frame->best_effort_timestamp;
      if (seconds) *seconds = pts == AV_NOPTS_VALUE ? 0 : double(pts) * av_q2d(vs->time_base);
      int ok = toRgba(d, d->frame, rgba);
      av_frame_unref(d->frame);
      if (ok != 0) {
        zvWarning("%s: a picture cannot be converted", d->who.c_str());
        return -1;
      }
      return 1;
    }
    if (r == AVERROR_EOF) return 0;
    if (r != AVERROR(EAGAIN)) {
      zvWarning("%s: the pictures cannot be decoded (%s)", d->who.c_str(), errorText(r).c_str());
      return -1;
    }
    if (d->ended) return 0;  // drained and nothing came
    r = av_read_frame(d->format, d->packet);
    if (r == AVERROR_EXIT || (r < 0 && nowMs() > d->deadline)) {
      zvWarning("%s: reading the file took too long", d->who.c_str());
      return -1;
    }
    if (r < 0) {
      // The end of the file, or a break in it: what was decoded still shows.
      d->ended = true;
      avcodec_send_packet(d->video, nullptr);
      continue;
    }
    if (d->packet->stream_index == d->videoStream) {
      // A damaged packet is skipped; the decoder picks up at the next key.
      avcodec_send_packet(d->video, d->packet);
    } else if (d->packet->stream_index == d->audioStream) {
      decodeSound(d, d->packet);
    }
    av_packet_unref(d->packet);
  }
  zvWarning("%s: no picture in %d packets", d->who.c_str(), kPacketsPerPicture);
  return -1;
}
