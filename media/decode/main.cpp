// quillmoor-decode — pictures and sound out of any file FFmpeg reads, in a
// process of their own: the browser starts one per video, with the file
// as its only argument and a socket as its standard input and output, and
// asks for pictures one at a time (see wire.h). FFmpeg's hundred-odd
// libraries then load only when a world shows a video, and a hostile file
// that breaks the decoder breaks this process, not the browser.
//
// The decoder keeps its own deadlines too: FFmpeg's interrupt callback
// ends any read past its deadline, probing reads a bounded amount, and a
// read that goes through many packets without a picture gives up. Only
// local files are opened ("file" is the only protocol allowed), so a
// playlist in a hostile file cannot reach further.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "media/decode/wire.h"

namespace {

constexpr int kIn = 0, kOut = 1;
constexpr int kOpenMs = 4000;  // opening and probing a file
constexpr int kReadMs = 1500;  // one picture
constexpr int kPacketsPerPicture = 4096;

struct Decoder {
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
  bool wantSound = false, soundBroken = false;
  std::vector<int16_t> samples;
  std::vector<uint8_t> rgba;
};

int interrupted(void* data) { return zvwire::nowMs() > static_cast<Decoder*>(data)->deadline ? 1 : 0; }

std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Says what broke and leaves: the browser shows the text as its message.
[[noreturn]] void fail(const std::string& what, int code = 0) {
  std::string text = code ? what + " (" + errorText(code) + ")" : what;
  if (text.size() > zvwire::kMostText) text.resize(zvwire::kMostText);
  zvwire::writeMessage(kOut, zvwire::kFail, text.data(), text.size());
  _exit(1);
}

void send(uint32_t tag, const void* a, size_t aSize, const void* b = nullptr, size_t bSize = 0) {
  if (!zvwire::writeMessage(kOut, tag, a, aSize, b, bSize)) _exit(0);  // the browser is gone
}

AVCodecContext* openCodec(AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  // One thread: pictures are asked for one at a time, and a broken stream
  // then cannot leave work running behind our back.
  c->thread_count = 1;
  if (avcodec_parameters_to_context(c, stream->codecpar) < 0 || avcodec_open2(c, codec, nullptr) < 0) {
    avcodec_free_context(&c);
    return nullptr;
  }
  return c;
}

void open(Decoder* d, const char* file) {
  d->format = avformat_alloc_context();
  if (!d->format) fail("out of memory");
  d->format->interrupt_callback = {interrupted, d};
  d->format->probesize = 4 << 20;
  d->format->max_analyze_duration = 5 * int64_t(AV_TIME_BASE);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  d->deadline = zvwire::nowMs() + kOpenMs;
  int r = avformat_open_input(&d->format, file, nullptr, &options);
  av_dict_free(&options);
  if (r < 0) fail("cannot be opened as a video", r);
  r = avformat_find_stream_info(d->format, nullptr);
  if (r < 0) fail("cannot be read as a video", r);
  d->videoStream = av_find_best_stream(d->format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (d->videoStream < 0) fail("holds no pictures");
  AVStream* vs = d->format->streams[d->videoStream];
  if (vs->codecpar->width <= 0 || vs->codecpar->height <= 0 || vs->codecpar->width > zvwire::kLargestSide ||
      vs->codecpar->height > zvwire::kLargestSide)
    fail("has pictures of no usable size");
  d->video = openCodec(vs);
  if (!d->video) fail("has pictures in a form that cannot be decoded");
  d->audioStream = av_find_best_stream(d->format, AVMEDIA_TYPE_AUDIO, -1, d->videoStream, nullptr, 0);
  if (d->audioStream >= 0) d->audio = openCodec(d->format->streams[d->audioStream]);
  if (!d->audio) d->audioStream = -1;
  d->packet = av_packet_alloc();
  d->frame = av_frame_alloc();
  if (!d->packet || !d->frame) fail("out of memory");
  d->outWidth = vs->codecpar->width;
  d->outHeight = vs->codecpar->height;
  zvwire::Info info{};
  info.width = vs->codecpar->width;
  info.height = vs->codecpar->height;
  AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
  info.frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
  if (!(info.frameRate < 1e6)) info.frameRate = 0;
  info.duration = d->format->duration > 0 ? double(d->format->duration) / AV_TIME_BASE : 0;
  if (!(info.duration < 1e9)) info.duration = 0;
  info.hasSound = d->audio != nullptr;
  send(zvwire::kInfo, &info, sizeof info);
}

// Sound goes as 16-bit interleaved samples at its own rate and channel
// count (at most two), in pieces the browser's bound allows.
void deliverSound(Decoder* d, AVFrame* f) {
  if (f->nb_samples <= 0 || f->sample_rate <= 0 || f->sample_rate > 384000) return;
  int channels = f->ch_layout.nb_channels >= 2 ? 2 : 1;
  if (!d->resampler) {
    AVChannelLayout out;
    av_channel_layout_default(&out, channels);
    if (swr_alloc_set_opts2(&d->resampler, &out, AV_SAMPLE_FMT_S16, f->sample_rate, &f->ch_layout,
                            AVSampleFormat(f->format), f->sample_rate, 0, nullptr) < 0 ||
        swr_init(d->resampler) < 0) {
      swr_free(&d->resampler);
      d->soundBroken = true;  // this file plays silent
      return;
    }
  }
  int most = swr_get_out_samples(d->resampler, f->nb_samples);
  if (most <= 0) return;
  d->samples.resize(size_t(most) * size_t(channels));
  auto* out = reinterpret_cast<uint8_t*>(d->samples.data());
  int n = swr_convert(d->resampler, &out, most, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
  for (int at = 0; at < n; at += zvwire::kMostSoundFrames) {
    int frames = std::min(n - at, zvwire::kMostSoundFrames);
    int32_t rc[2] = {f->sample_rate, channels};
    send(zvwire::kSound, rc, sizeof rc, d->samples.data() + size_t(at) * size_t(channels),
         size_t(frames) * size_t(channels) * 2);
  }
}

void decodeSound(Decoder* d, const AVPacket* p) {
  if (!d->audio || !d->wantSound || d->soundBroken) return;
  if (avcodec_send_packet(d->audio, p) < 0) return;
  while (avcodec_receive_frame(d->audio, d->frame) == 0) {
    deliverSound(d, d->frame);
    av_frame_unref(d->frame);
  }
}

bool toRgba(Decoder* d, AVFrame* f) {
  if (f->width <= 0 || f->height <= 0 || f->width > zvwire::kLargestSide || f->height > zvwire::kLargestSide)
    return false;
  d->scaler = sws_getCachedContext(d->scaler, f->width, f->height, AVPixelFormat(f->format), d->outWidth,
                                   d->outHeight, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!d->scaler) return false;
  d->rgba.resize(size_t(d->outWidth) * size_t(d->outHeight) * 4);
  uint8_t* planes[4] = {d->rgba.data(), nullptr, nullptr, nullptr};
  int strides[4] = {4 * d->outWidth, 0, 0, 0};
  return sws_scale(d->scaler, f->data, f->linesize, 0, f->height, planes, strides) > 0;
}

// The next picture, the end, or a failure that ends the process.
void next(Decoder* d) {
  d->deadline = zvwire::nowMs() + kReadMs;
  AVStream* vs = d->format->streams[d->videoStream];
  for (int packets = 0; packets <= kPacketsPerPicture; ++packets) {
    int r = avcodec_receive_frame(d->video, d->frame);
    if (r == 0) {
      int64_t pts = d->frame->best_effort_timestamp;
      double seconds = pts == AV_NOPTS_VALUE ? 0 : double(pts) * av_q2d(vs->time_base);
      bool ok = toRgba(d, d->frame);
      av_frame_unref(d->frame);
      if (!ok) fail("a picture cannot be converted");
      send(zvwire::kPicture, &seconds, sizeof seconds, d->rgba.data(), d->rgba.size());
      return;
    }
    if (r == AVERROR_EOF || (r == AVERROR(EAGAIN) && d->ended)) {
      send(zvwire::kEnd, nullptr, 0);
      return;
    }
    if (r != AVERROR(EAGAIN)) fail("the pictures cannot be decoded", r);
    r = av_read_frame(d->format, d->packet);
    if (r == AVERROR_EXIT || (r < 0 && zvwire::nowMs() > d->deadline)) fail("reading the file took too long");
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
  fail("no picture in " + std::to_string(kPacketsPerPicture) + " packets");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    const char usage[] = "usage: quillmoor-decode FILE (started by quillmoor, which talks to it on stdin/stdout)\n";
    (void)!write(2, usage, sizeof usage - 1);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  av_log_set_level(AV_LOG_QUIET);  // the browser's message says what went wrong
  Decoder d;
  open(&d, argv[1]);
  for (;;) {
    zvwire::Request q;
    size_t got = 0;
    while (got < sizeof q) {
      ssize_t n = read(kIn, reinterpret_cast<char*>(&q) + got, sizeof q - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;  // the browser closed the video
      got += size_t(n);
    }
    if (q.tag == zvwire::kSize) {
      if (q.a < 1 || q.b < 1 || q.a > zvwire::kLargestSide || q.b > zvwire::kLargestSide) fail("no usable size");
      d.outWidth = q.a;
      d.outHeight = q.b;
    } else if (q.tag == zvwire::kNext) {
      d.wantSound = q.a != 0;
      next(&d);
    } else {
      fail("a request that makes no sense");
    }
  }
}
