// jpeg.cpp — JPEG through libjpeg: to an 8-bit colour-mapped BMP as the
// retrieval layer asks, or to RGBA for the renderer. libjpeg's own error
// handler ends the process; ours reports and jumps back here instead, and
// treats the library's warnings (corrupt or missing data that it would
// paper over with grey) as failures too.
#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h uses FILE and size_t without declaring them.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "image/imagepriv.h"
#include "scene/scene.h"

namespace {

using namespace zvimage;

// A progressive file may repeat scans without end, each one a full pass
// over the coefficients; real encoders never need this many.
constexpr int kMaxScans = 500;
// Coefficient buffers for progressive files and the two-pass quantiser come
// from libjpeg's pool; past this it stops with an error instead of growing.
constexpr long kMaxJpegMemory = 512L * 1024 * 1024;

struct JpegError {
  jpeg_error_mgr pub;
  jmp_buf jump;
  const char* who;
};

[[noreturn]] void failWith(j_common_ptr cinfo, bool warning) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  char text[JMSG_LENGTH_MAX];
  err->pub.format_message(cinfo, text);
  zvWarning("%s: %s\n", err->who, text);
  if (warning) zvWarning("JPEG internal warning\n");
  longjmp(err->jump, 1);
}

[[noreturn]] void errorExit(j_common_ptr cinfo) { failWith(cinfo, false); }

void emitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) {
    // Decoding would go on with made-up data; the conversion fails anyway,
    // so stop now rather than decode the rest of a broken image.
    cinfo->err->num_warnings++;
    failWith(cinfo, true);
  }
  if (level <= cinfo->err->trace_level) cinfo->err->output_message(cinfo);
}

void outputMessage(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  char text[JMSG_LENGTH_MAX];
  err->pub.format_message(cinfo, text);
  zvMessage("%s: %s\n", err->who, text);
}

void progressMonitor(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number <= kMaxScans) return;
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  zvWarning("%s: more than %d scans in a JPEG file.\n", err->who, kMaxScans);
  longjmp(err->jump, 1);
}

// Everything that must survive a longjmp lives here, not in locals, and is
// released by the caller of the function that holds the setjmp.
struct JpegJob {
  jpeg_decompress_struct cinfo;
  JpegError err;
  jpeg_progress_mgr progress;
  const uint8_t* bytes;
  size_t size;
  uint8_t* row;     // one scanline as libjpeg writes it
  uint8_t* pixels;  // a converted scanline, or the whole RGBA image
  bool noMemory;
};

void initJob(JpegJob* job, const char* who, const uint8_t* bytes, size_t size) {
  std::memset(job, 0, sizeof *job);
  job->cinfo.err = jpeg_std_error(&job->err.pub);
  job->err.pub.error_exit = errorExit;
  job->err.pub.emit_message = emitMessage;
  job->err.pub.output_message = outputMessage;
  job->err.who = who;
  job->progress.progress_monitor = progressMonitor;
  job->bytes = bytes;
  job->size = size;
}

void releaseJob(JpegJob* job) {
  jpeg_destroy_decompress(&job->cinfo);  // safe on a half-made decompressor
  zvFree(job->row);
  zvFree(job->pixels);
  job->row = job->pixels = nullptr;
}

int jumpedResult(JpegJob* job) {
  return job->err.pub.msg_code == JERR_OUT_OF_MEMORY ? ZV_NOMEM : ZV_FAIL;
}

// Create, attach the bytes and read the header. Called inside the setjmp.
void startJob(JpegJob* job) {
  jpeg_create_decompress(&job->cinfo);
  job->cinfo.progress = &job->progress;
  job->cinfo.mem->max_memory_to_use = kMaxJpegMemory;
  jpeg_mem_src(&job->cinfo, job->bytes, static_cast<unsigned long>(job->size));
  jpeg_read_header(&job->cinfo, TRUE);
}

bool isCmyk(const jpeg_decompress_struct& c) {
  return c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
}

// libjpeg hands CMYK over as it is stored; Adobe's files store it inverted.
void cmykToRgb(const uint8_t* cmyk, int width, bool adobe, uint8_t* out, int step, bool bgr) {
  for (int x = 0; x < width; ++x, cmyk += 4, out += step) {
    int k = adobe ? cmyk[3] : 255 - cmyk[3];
    uint8_t rgb[3];
    for (int i = 0; i < 3; ++i) rgb[i] = uint8_t((adobe ? cmyk[i] : 255 - cmyk[i]) * k / 255);
    out[0] = bgr ? rgb[2] : rgb[0];
    out[1] = rgb[1];
    out[2] = bgr ? rgb[0] : rgb[2];
    if (step == 4) out[3] = 0xFF;
  }
}

bool allocate(JpegJob* job, uint8_t** p, size_t size) {
  *p = static_cast<uint8_t*>(zvMalloc(size));
  if (!*p) {
    job->noMemory = true;
    zvWarning("%s: cannot allocate memory.\n", job->err.who);
  }
  return *p != nullptr;
}

void applyOptions(jpeg_decompress_struct* c, const ZvJpegOptions& o) {
  if (o.greyscale) c->out_color_space = JCS_GRAYSCALE;
  if (o.dctMethod >= JDCT_ISLOW && o.dctMethod <= JDCT_FLOAT)
    c->dct_method = J_DCT_METHOD(o.dctMethod);
  if (o.ditherMode >= JDITHER_NONE && o.ditherMode <= JDITHER_FS)
    c->dither_mode = J_DITHER_MODE(o.ditherMode);
  if (o.colors > 0) {
    c->quantize_colors = TRUE;
    c->desired_number_of_colors = o.colors;
  }
  c->do_fancy_upsampling = o.fancyUpsampling ? TRUE : FALSE;
  c->two_pass_quantize = o.twoPassQuantize ? TRUE : FALSE;
  if (o.scaleNum > 0 && o.scaleDenom > 0) {
    c->scale_num = unsigned(o.scaleNum);
    c->scale_denom = unsigned(o.scaleDenom);
  }
  if (o.fast) {
    c->dither_mode = JDITHER_ORDERED;
    if (!c->quantize_colors) {
      c->quantize_colors = TRUE;
      c->desired_number_of_colors = 216;
    }
    c->dct_method = JDCT_IFAST;
    c->do_fancy_upsampling = FALSE;
    c->two_pass_quantize = FALSE;
  }
  if (o.maxMemory > 0 && long(o.maxMemory) * 1000 < kMaxJpegMemory)
    c->mem->max_memory_to_use = long(o.maxMemory) * 1000;
  // The quantiser and our BMP rows know grey, RGB and BGR; CMYK we turn
  // into BGR ourselves and write at 24 bits.
  if (isCmyk(*c)) {
    c->out_color_space = JCS_CMYK;
    c->quantize_colors = FALSE;
  } else if (!c->quantize_colors && c->out_color_space != JCS_GRAYSCALE) {
    c->out_color_space = JCS_EXT_BGR;
  }
}

int runToBmp(JpegJob* job, const ZvJpegOptions* options, BmpOut* bmp) {
  if (setjmp(job->err.jump)) return jumpedResult(job);
  if (options->verbose) {
    zvMessage("%s: libjpeg interface version %d\n", job->err.who, JPEG_LIB_VERSION);
    job->err.pub.trace_level = 1;
  }
  startJob(job);
  jpeg_decompress_struct* c = &job->cinfo;
  applyOptions(c, *options);
  jpeg_calc_output_dimensions(c);
  if (!imageSizeOk(job->err.who, long(c->output_width), long(c->output_height))) return ZV_FAIL;
  // Only grey, colour and CMYK make a picture: a JPEG of two (or five)
  // unnamed components has no colours to map, and its colour map would be
  // read past its rows.
  if (c->out_color_components != 1 && c->out_color_components != 3 && !isCmyk(*c)) {
    zvWarning("%s: %s", job->err.who, "the JPEG's colour components are not supported.");
    return ZV_FAIL;
  }
  jpeg_start_decompress(c);
  int width = int(c->output_width), bits = 24, colors = 0;
  ZvRgbQuad palette[256] = {};
  if (c->quantize_colors || c->out_color_components == 1) {
    bits = 8;
    colors = c->quantize_colors ? c->actual_number_of_colors : 256;
    for (int i = 0; i < colors; ++i) {
      if (!c->quantize_colors) {
        palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
      } else if (c->out_color_components == 1) {
        uint8_t g = c->colormap[0][i];
        palette[i] = {g, g, g, 0};
      } else {
        palette[i] = {c->colormap[2][i], c->colormap[1][i], c->colormap[0][i], 0};
      }
    }
  }
  if (bmpBegin(bmp, width, int(c->output_height), bits, colors, palette) != BmpResult::ok)
    return ZV_FAIL;
  if (!allocate(job, &job->row, size_t(width) * size_t(c->output_components)) ||
      !allocate(job, &job->pixels, size_t(width) * 3))
    return ZV_NOMEM;
  while (c->output_scanline < c->output_height) {
    JSAMPROW rows[1] = {job->row};
    jpeg_read_scanlines(c, rows, 1);
    if (c->out_color_space == JCS_CMYK)
      cmykToRgb(job->row, width, c->saw_Adobe_marker, job->pixels, 3, true);
    const uint8_t* out = c->out_color_space == JCS_CMYK ? job->pixels : job->row;
    if (bmpPutRow(bmp, int(c->output_scanline) - 1, out) != BmpResult::ok) {
      zvWarning("%s: failed to write bmpfile.\n", job->err.who);
      return ZV_FAIL;
    }
  }
  jpeg_finish_decompress(c);
  return ZV_OK;
}

int runToRgba(JpegJob* job, ZvImage* out) {
  if (setjmp(job->err.jump)) return jumpedResult(job);
  startJob(job);
  jpeg_decompress_struct* c = &job->cinfo;
  if (isCmyk(*c))
    c->out_color_space = JCS_CMYK;
  else
    c->out_color_space = JCS_EXT_RGBA;
  jpeg_calc_output_dimensions(c);
  if (!imageSizeOk(job->err.who, long(c->output_width), long(c->output_height))) return ZV_FAIL;
  jpeg_start_decompress(c);
  int width = int(c->output_width), height = int(c->output_height);
  if (!allocate(job, &job->row, size_t(width) * 4) ||
      !allocate(job, &job->pixels, size_t(width) * size_t(height) * 4))
    return ZV_NOMEM;
  while (c->output_scanline < c->output_height) {
    uint8_t* line = job->pixels + size_t(c->output_scanline) * size_t(width) * 4;
    JSAMPROW rows[1] = {c->out_color_space == JCS_CMYK ? job->row : line};
    jpeg_read_scanlines(c, rows, 1);
    if (c->out_color_space == JCS_CMYK)
      cmykToRgb(job->row, width, c->saw_Adobe_marker, line, 4, false);
  }
  jpeg_finish_decompress(c);
  out->width = width;
  out->height = height;
  out->pixels = job->pixels;
  job->pixels = nullptr;  // the image owns it now
  return ZV_OK;
}

int nomemOr(const JpegJob& job, int result) { return job.noMemory ? ZV_NOMEM : result; }

}  // namespace

void zvDefaultJpegOptions(ZvJpegOptions* o) {
  if (!o) return;
  *o = ZvJpegOptions{};
  o->colors = 256;
  o->dctMethod = JDCT_ISLOW;
  o->ditherMode = JDITHER_FS;
  o->scaleNum = 1;
  o->scaleDenom = 1;
}

int zvJpg2Bmp(const char* jpeg, const char* bmp, int os2, const ZvJpegOptions* options) {
  static const char who[] = "zvJpg2Bmp";
  if (!jpeg || !*jpeg) {
    zvWarning("zvJpg2Bmp: jpegfile name is not given.\n");
    return ZV_FAIL;
  }
  if (!bmp || !*bmp) {
    zvWarning("zvJpg2Bmp: bmpfile name is not given.\n");
    return ZV_FAIL;
  }
  if (os2) {
    zvWarning("zvJpg2Bmp: OS/2 bitmaps are not written; use 0 for a Windows one.\n");
    return ZV_FAIL;
  }
  ZvJpegOptions defaults;
  zvDefaultJpegOptions(&defaults);
  uint8_t* bytes;
  size_t size;
  switch (readWholeFile(jpeg, &bytes, &size)) {
    case ReadResult::ok:
      break;
    case ReadResult::noMemory:
      zvWarning("zvJpg2Bmp: cannot allocate memory.\n");
      return ZV_NOMEM;
    case ReadResult::tooBig:
      zvWarning("zvJpg2Bmp: jpegfile is too large.\n");
      return ZV_FAIL;
    default:
      zvWarning("zvJpg2Bmp: can't open jpegfile.\n");
      return ZV_FAIL;
  }
  BmpOut out;
  if (!bmpOpen(&out, bmp)) {
    zvFree(bytes);
    zvWarning("zvJpg2Bmp: can't open bmpfile %s\n", bmp);
    return ZV_FAIL;
  }
  auto* job = static_cast<JpegJob*>(zvMalloc(sizeof(JpegJob)));
  int result = ZV_NOMEM;
  if (!job) {
    zvWarning("zvJpg2Bmp: cannot allocate memory.\n");
  } else {
    initJob(job, who, bytes, size);
    result = nomemOr(*job, runToBmp(job, options ? options : &defaults, &out));
    releaseJob(job);
    zvFree(job);
  }
  zvFree(bytes);
  if (result == ZV_OK && bmpClose(&out) != BmpResult::ok) {
    zvWarning("zvJpg2Bmp: failed to write bmpfile.\n");
    result = ZV_FAIL;
  }
  if (result != ZV_OK) bmpAbandon(&out);
  return result;
}

namespace zvimage {

int decodeJpeg(const char* who, const uint8_t* bytes, size_t size, ZvImage* out) {
  auto* job = static_cast<JpegJob*>(zvMalloc(sizeof(JpegJob)));
  if (!job) {
    zvWarning("%s: cannot allocate memory.\n", who);
    return ZV_NOMEM;
  }
  initJob(job, who, bytes, size);
  int result = nomemOr(*job, runToRgba(job, out));
  releaseJob(job);
  zvFree(job);
  return result;
}

}  // namespace zvimage
