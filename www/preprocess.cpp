// preprocess.cpp — making a file that has just become local usable: gzip is
// inflated in process, GIF/JPEG/PNG go through the image converter to BMP.
// What a file is comes from its first bytes when they say, and from its
// name only when they do not: worlds name textures as carelessly as
// servers do (a JPEG called .gif, a PNG called .bmp, a GIF with no suffix).
//
// Every product is created exclusively under its own name and written in
// place; a failure deletes it, so that no half-written file is ever left for
// a later load to pick up.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "www/wwwpriv.h"

namespace {

ZvWwwImageConverter imageConverter = nullptr;

bool isImage(int type) { return type == ZV_TYPE_GIF || type == ZV_TYPE_JPEG || type == ZV_TYPE_PNG; }

int signatureType(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not hang us
  if (fd < 0) return ZV_TYPE_OTHER;
  unsigned char b[8] = {};
  ssize_t n;
  do n = read(fd, b, sizeof b);
  while (n < 0 && errno == EINTR);
  close(fd);
  if (n >= 2 && b[0] == 0x1f && b[1] == 0x8b) return ZV_TYPE_GZIP;
  if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0)) return ZV_TYPE_GIF;
  if (n >= 3 && b[0] == 0xff && b[1] == 0xd8 && b[2] == 0xff) return ZV_TYPE_JPEG;
  if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return ZV_TYPE_PNG;
  if (n >= 2 && b[0] == 'B' && b[1] == 'M') return ZV_TYPE_BMP;
  return ZV_TYPE_OTHER;
}

// The decompressed name: world.wrl.gz, world_wrl.gz and world~wrl.gz give
// world.wrl; world.wrz and world.gz give world plus the suffix of the type
// wanted. A file recognised only by its signature keeps its own name when
// that says what it is.
std::string inflatedBase(std::string base, int type, bool bySuffix) {
  if (!bySuffix && zvSuffixToType(base.c_str()) != ZV_TYPE_OTHER) return base;
  size_t dot = base.rfind('.');
  bool wrz = dot != std::string::npos && strcasecmp(base.c_str() + dot + 1, "wrz") == 0;
  if (dot != std::string::npos) base.resize(dot);
  if (wrz) return base + zvTypeToSuffix(ZV_TYPE_VRML);
  size_t sep = base.find_last_of(".~_");
  if (sep != std::string::npos) {
    base[sep] = '.';
    return base;
  }
  return base + zvTypeToSuffix(type);
}

bool writeAll(int fd, const unsigned char* data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= size_t(w);
  }
  return true;
}

// Inflates every gzip member of in into out; zero bytes after a member are
// tolerated (padding), anything else must be another member.
bool inflateFile(int in, int out) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
  std::vector<unsigned char> input(1 << 16), output(1 << 16);
  size_t total = 0;
  bool inMember = false, finished = false, ok = true;
  for (;;) {
    if (z.avail_in == 0) {
      ssize_t n = read(in, input.data(), input.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      z.next_in = input.data();
      z.avail_in = uInt(n);
    }
    if (!inMember) {
      if (finished && *z.next_in == 0) {
        ++z.next_in;
        --z.avail_in;
        continue;
      }
      if (finished && inflateReset(&z) != Z_OK) {
        ok = false;
        break;
      }
      inMember = true;
    }
    z.next_out = output.data();
    z.avail_out = uInt(output.size());
    int r = inflate(&z, Z_NO_FLUSH);
    size_t produced = output.size() - z.avail_out;
    total += produced;
    if ((r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) || total > www::sizeLimit() ||
        !writeAll(out, output.data(), produced)) {
      ok = false;
      break;
    }
    if (r == Z_STREAM_END) {
      inMember = false;
      finished = true;
    }
  }
  inflateEnd(&z);
  // A stream cut short ends inside a member; an empty file has no member.
  return ok && finished && !inMember;
}

int decompress(int local, const char* source, int type, bool bySuffix, std::string& product) {
  std::string dir, hash, base;
  if (!www::productParts(local, source, "MakeGzipName", dir, hash, base)) return ZV_FAIL;
  int in = open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (in >= 0 && (fstat(in, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(in);
    in = -1;
  }
  int out = in < 0 ? -1 : www::reserveProduct(dir, hash, inflatedBase(base, type, bySuffix), product);
  bool ok = out >= 0 && inflateFile(in, out);
  if (out >= 0 && close(out) != 0) ok = false;
  if (in >= 0) close(in);
  if (!ok) {
    if (out >= 0) unlink(product.c_str());
    zvWarning("%s : %s", "Decompress()", "gzip failure");
    return ZV_FAIL;
  }
  return ZV_OK;
}

int convertImage(int local, const char* source, int type, std::string& product) {
  if (!imageConverter) {
    zvWarning("%s : %s", "zvConvertImage()", "image conversion is not available");
    return ZV_FAIL;
  }
  std::string dir, hash, base;
  if (!www::convertedParts(local, source, ZV_TYPE_BMP, dir, hash, base)) return ZV_FAIL;
  int fd = www::reserveProduct(dir, hash, base, product);
  if (fd < 0) {
    zvWarning("%s : %s", "zvConvertImage()", "can not create the BMP file");
    return ZV_FAIL;
  }
  close(fd);
  int r = imageConverter(source, product.c_str(), type);
  if (local == ZV_SCHEME_HTTP) www::removeIfOurs(source);
  if (r != ZV_OK) {
    unlink(product.c_str());
    return ZV_FAIL;
  }
  return ZV_OK;
}

bool deliver(const std::string& name, char* out, size_t size) {
  if (www::copyOut(name, out, size)) return true;
  zvWarning("%s: convertedLength=%u: buffer 256 size is overflow.", "zvPreProcessFile",
            unsigned(name.size()));
  return false;
}

}  // namespace

int zvFileToType(const char* path) {
  if (!path) return ZV_TYPE_OTHER;
  int signature = signatureType(path);
  return signature != ZV_TYPE_OTHER ? signature : zvSuffixToType(path);
}

ZvWwwImageConverter zvWwwSetImageConverter(ZvWwwImageConverter converter) {
  ZvWwwImageConverter before = imageConverter;
  imageConverter = converter;
  return before;
}

int zvPreProcessFile(int local, const char* source, char* out, size_t size, int type) {
  if (!source || !out || size == 0) {
    zvWarning("zvPreProcessFile: Invalid argument.");
    return ZV_FAIL;
  }
  int suffixType = zvSuffixToType(source);
  int sourceType = zvFileToType(source);
  std::string product;
  if (sourceType == ZV_TYPE_GZIP) {
    int r = decompress(local, source, type, suffixType == ZV_TYPE_GZIP, product);
    if (local == ZV_SCHEME_HTTP) www::removeIfOurs(source);
    if (r != ZV_OK) return ZV_FAIL;
    int innerType = zvFileToType(product.c_str());
    if (isImage(innerType)) {
      // The inflated copy is ours and only a step on the way: convert it as a
      // download, which puts the BMP beside it and deletes it.
      std::string inflated = product;
      if (convertImage(ZV_SCHEME_HTTP, inflated.c_str(), innerType, product) != ZV_OK) {
        www::removeIfOurs(inflated);
        return ZV_FAIL;
      }
    }
  } else if (isImage(sourceType)) {
    if (convertImage(local, source, sourceType, product) != ZV_OK) return ZV_FAIL;
  } else {
    product = source;
  }
  if (deliver(product, out, size)) return ZV_OK;
  if (product != source) unlink(product.c_str());
  return ZV_FAIL;
}
