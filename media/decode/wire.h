// wire.h — what the browser and quillmoor-decode say to each other over
// the socket between them.
//
// The browser sends fixed twelve-byte requests (a tag and two integers);
// the decoder answers with messages of an eight-byte head (tag, payload
// length) and a payload. Both sides are the same machine, so integers go
// in its own byte order. The browser trusts nothing it reads: every
// message has a deadline, every length a bound fixed before reading, and a
// message that breaks either ends the decoder, not the browser.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zvwire {

constexpr uint32_t tag(const char (&t)[5]) {
  return uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 | uint32_t(uint8_t(t[2])) << 16 |
         uint32_t(uint8_t(t[3])) << 24;
}

// Requests, browser to decoder.
constexpr uint32_t kSize = tag("SIZE");  // a = width, b = height of the pictures sent
constexpr uint32_t kNext = tag("NEXT");  // the next picture; a = 1 when sound is wanted

// Messages, decoder to browser.
constexpr uint32_t kInfo = tag("INFO");  // once, after opening: Info
constexpr uint32_t kPicture = tag("PICT");  // double seconds, then width x height RGBA
constexpr uint32_t kSound = tag("SND ");  // int32 rate, int32 channels, 16-bit samples
constexpr uint32_t kEnd = tag("END ");   // no more pictures
constexpr uint32_t kFail = tag("FAIL");  // text saying what broke; the decoder then leaves

constexpr int kLargestSide = 8192;
constexpr uint32_t kMostSoundBytes = 1u << 20;
constexpr uint32_t kMostText = 512;
constexpr int kMostSoundFrames = int((kMostSoundBytes - 8) / 4);  // stereo 16-bit

struct Request {
  uint32_t tag;
  int32_t a, b;
};

struct Info {
  int32_t width, height, hasSound, reserved;
  double frameRate, duration;
};

struct Head {
  uint32_t tag, length;
};

struct Message {
  uint32_t tag = 0;
  std::vector<uint8_t> payload;
};

inline int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Writes all of it; false when the other side is gone. Never raises
// SIGPIPE (the socket's send has MSG_NOSIGNAL; a pipe is written plainly).
inline bool writeAll(int fd, const void* data, size_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

inline bool writeMessage(int fd, uint32_t t, const void* a, size_t aSize, const void* b = nullptr,
                         size_t bSize = 0) {
  Head h{t, uint32_t(aSize + bSize)};
  return writeAll(fd, &h, sizeof h) && (!aSize || writeAll(fd, a, aSize)) && (!bSize || writeAll(fd, b, bSize));
}

// Reads exactly size bytes before the deadline: 0, or -1 with why set.
inline int readAll(int fd, void* data, size_t size, int64_t deadline, std::string* why) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    int64_t left = deadline - nowMs();
    if (left <= 0) {
      *why = "took too long";
      return -1;
    }
    pollfd pfd{fd, POLLIN, 0};
    int r = poll(&pfd, 1, int(left));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      *why = std::string("cannot be read from (") + std::strerror(errno) + ")";
      return -1;
    }
    if (r == 0) continue;  // the deadline is looked at again above
    ssize_t n = read(fd, p, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      *why = "stopped";
      return -1;
    }
    p += n;
    size -= size_t(n);
  }
  return 0;
}

// The most a message of this tag may carry, pictures being exactly the
// size asked for; false for a tag that has no business on the wire.
inline bool lengthFits(uint32_t t, uint32_t length, size_t pictureBytes) {
  if (t == kInfo) return length == sizeof(Info);
  if (t == kPicture) return length == sizeof(double) + pictureBytes;
  if (t == kSound) return length >= 8 && length <= kMostSoundBytes;
  if (t == kEnd) return length == 0;
  if (t == kFail) return length <= kMostText;
  return false;
}

// One whole message before the deadline, checked against the bounds: 0, or
// -1 with why saying what was wrong with it.
inline int readMessage(int fd, int64_t deadline, size_t pictureBytes, Message* out, std::string* why) {
  Head h{};
  if (readAll(fd, &h, sizeof h, deadline, why) != 0) return -1;
  if (!lengthFits(h.tag, h.length, pictureBytes)) {
    *why = "sent a message that makes no sense";
    return -1;
  }
  out->tag = h.tag;
  out->payload.resize(h.length);
  if (h.length && readAll(fd, out->payload.data(), h.length, deadline, why) != 0) return -1;
  if (h.tag == kInfo) {
    Info info;
    std::memcpy(&info, out->payload.data(), sizeof info);
    if (info.width < 1 || info.height < 1 || info.width > kLargestSide || info.height > kLargestSide ||
        !(info.frameRate >= 0 && info.frameRate < 1e6) || !(info.duration >= 0 && info.duration < 1e9)) {
      *why = "sent pictures of no usable size";
      return -1;
    }
  } else if (h.tag == kSound) {
    int32_t rc[2];
    std::memcpy(rc, out->payload.data(), sizeof rc);
    if (rc[0] < 1 || rc[0] > 384000 || rc[1] < 1 || rc[1] > 2 || (h.length - 8) % (2 * uint32_t(rc[1])) != 0) {
      *why = "sent sound that makes no sense";
      return -1;
    }
  }
  return 0;
}

}  // namespace zvwire
