// image.h — image conversion: GIF, JPEG and PNG textures to the Windows BMP
// files the renderer reads, a BMP reader, and an in-memory decoder to RGBA
// for the renderer and for fuzzing.
//
// Depends on the scene model for zvMalloc & co. and the report routines,
// on libjpeg (libjpeg-turbo's 6.2 interface) and on libpng. GIF is decoded
// here, LZW included.
//
// Every byte of an image file is hostile: lengths, counts, indices and
// dimensions are checked before use. An image may have at most
// ZV_IMAGE_MAX_SIDE pixels on a side and ZV_IMAGE_MAX_PIXELS in all, so that
// its RGBA form stays within 256 MB, and a GIF or PNG must be long enough
// to hold the pixels it declares before any buffer is made for them.
// Failures are reported at warning level and answered with -1 (-5 when
// memory runs out); a converter that fails leaves no output file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// File type codes, as the retrieval layer keeps them. 12 is ours for PNG.
enum {
  ZV_IMAGE_BMP = 0,
  ZV_IMAGE_JPEG = 7,
  ZV_IMAGE_GIF = 8,
  ZV_IMAGE_PNG = 12,
};

enum {
  ZV_IMAGE_MAX_SIDE = 16384,
  ZV_IMAGE_MAX_PIXELS = 64 * 1024 * 1024,  // 256 MB as RGBA
};
// Lowers the limits (a fuzzer or a small machine wants less); values out
// of 1 .. the maxima above restore them.
void zvSetImageLimits(int32_t maxSide, int32_t maxPixels);

// ---------------------------------------------------------------------------
// Decoded images: RGBA, four bytes a pixel, top row first.
struct ZvImage {
  int32_t width, height;
  uint8_t* pixels;  // width * height * 4 bytes from zvMalloc, owned
  int32_t type;     // ZV_IMAGE_* of the bytes it came from
};

// Type of an image from its first bytes: a ZV_IMAGE_* code, or -1.
int zvImageTypeOfBytes(const void* bytes, size_t size);
// Decodes the first image of a GIF, JPEG, PNG or BMP held in memory. A GIF's
// transparent colour and a PNG's alpha become alpha; everything else is
// opaque. out is left empty on failure.
int zvDecodeImage(const void* bytes, size_t size, ZvImage* out);
int zvDecodeImageAs(int type, const void* bytes, size_t size, ZvImage* out);
int zvReadBmp(const char* path, ZvImage* out);  // 1, 4, 8, 24 or 32 bits, BI_RGB
void zvFreeImage(ZvImage* image);               // empties the record

// ---------------------------------------------------------------------------
// Converters to BMP. Each answers 0 on success.

// The first image of a GIF; 1 bit for a two-colour palette, 4 bits up to 16
// colours, else 8. Transparency is not carried into the BMP; when mask is
// given, a 1-bit mask BMP of the same size is written there too, black
// where the GIF's transparent colour is and white elsewhere.
int zvGif2Bmp(const char* gif, const char* bmp, const char* mask);

struct ZvJpegOptions {
  int32_t colors;      // > 0: quantise to this many colours (8 to 256)
  int32_t dctMethod;   // libjpeg J_DCT_METHOD
  int32_t ditherMode;  // libjpeg J_DITHER_MODE
  uint8_t fast;        // ordered dither, 216 colours unless given, fast DCT, one pass
  uint8_t greyscale;
  int32_t maxMemory;  // > 0: libjpeg's memory limit in thousands of bytes
  uint8_t fancyUpsampling;
  uint8_t twoPassQuantize;
  int32_t scaleNum, scaleDenom;
  uint8_t verbose;  // the library's banner and trace
};
// What the retrieval layer passes: 256 colours, slow integer DCT,
// Floyd-Steinberg, one pass, full size.
void zvDefaultJpegOptions(ZvJpegOptions* options);
// os2 must be 0: only Windows BMPs are written. Null options: the defaults.
int zvJpg2Bmp(const char* jpeg, const char* bmp, int os2, const ZvJpegOptions* options);

// Palette PNGs follow the GIF rule for bit depth, grey ones get a grey
// palette the same way, colour ones become 24-bit; alpha is dropped.
int zvPng2Bmp(const char* png, const char* bmp);

// Converts src of the given type code into the BMP file dst; a BMP (code 0)
// is copied unless src and dst are the same path.
int zvConvertImageFile(const char* src, const char* dst, int typeCode);
// Writes an RGBA picture (top row first) as a PNG file.
int zvWritePng(const char* path, int width, int height, int stride, const uint8_t* rgba);

// ---------------------------------------------------------------------------
// BMP writing, shared by the converters. All integers in the file are
// little-endian whatever the host.
struct ZvBmpFileHeader {
  char type[2];  // "BM"
  uint32_t size;
  uint16_t reserved1, reserved2;
  uint32_t offset;  // of the pixel rows
};
struct ZvBmpInfoHeader {
  uint32_t size;  // 40
  int32_t width, height;
  uint16_t planes, bitCount;
  uint32_t compression;  // 0, BI_RGB
  uint32_t sizeImage;
  int32_t xPelsPerMeter, yPelsPerMeter;
  uint32_t clrUsed, clrImportant;
};
struct ZvRgbQuad {
  uint8_t blue, green, red, reserved;
};
enum { ZV_BMP_HEADERS_SIZE = 54 };

// Fills both headers for bottom-up rows. -1 for a bad width, height or
// depth; other compressions become BI_RGB, a colour count out of range 0.
int zvSetBMPHeader(ZvBmpFileHeader* file, ZvBmpInfoHeader* info, int width, int height,
                   int bitCount, int compression, int colors);
int zvBMPRowSize(int width, int bitCount);             // bytes, padding included
int zvBMPColorTableSize(const ZvBmpInfoHeader* info);  // entries
// Writes the headers and the colour table (as many entries as the header
// says; colors may be null for a table of zeros).
int zvWriteBMPHeaders(FILE* out, const ZvBmpFileHeader* file, const ZvBmpInfoHeader* info,
                      const ZvRgbQuad* colors);
// Writes one row with its padding: one palette index a byte for 1, 4 and 8
// bits (packed here, most significant bits first), blue-green-red triples
// for 24 bits.
int zvWriteBMPRow(FILE* out, const uint8_t* pixels, int width, int bitCount);
