// Load and save of a 640 x 480 picture in each format, from and to memory.
// PNG, JPEG, TIFF and GIF are paired with the library doing the same work
// alone (our overhead); BMP, PCX and TGA with memcpy of the picture's bytes.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <vector>

#include <ctime>
#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_image.h"

using namespace kav::still;

namespace {

constexpr int kW = 640, kH = 480;

// A photo-like picture: gradients with a little noise, and its paletted twin;
// and a cartoon-like one (an animation frame: flat areas with outlined shapes),
// the content run-length formats are chosen for.
struct Pictures {
  StillImage rgb{}, pal{}, cartoon{};
  Pictures() {
    stillAllocate(&rgb, kW, kH, 24);
    stillAllocate(&pal, kW, kH, 8);
    stillAllocate(&cartoon, kW, kH, 24);
    drawCartoon();
    uint32_t seed = 1;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        seed = seed * 1103515245u + 12345u;
        const int n = static_cast<int>((seed >> 16) & 7);
        uint8_t *p = rgb.buffer + static_cast<size_t>(y) * rgb.pitchBytes + 3 * x;
        p[0] = static_cast<uint8_t>(x * 255 / kW + n);
        p[1] = static_cast<uint8_t>(y * 255 / kH + n);
        p[2] = static_cast<uint8_t>((x + y) / 5 + n);
        pal.buffer[static_cast<size_t>(y) * pal.pitchBytes + x] = static_cast<uint8_t>(((x / 3) ^ (y / 5)) + (n >> 2));
      }
    for (int i = 0; i < 256; ++i) {
      pal.palette[i][0] = static_cast<uint8_t>(i);
      pal.palette[i][1] = static_cast<uint8_t>(255 - i);
      pal.palette[i][2] = static_cast<uint8_t>(i * 3);
    }
    pal.colours = 256;
  }

  void drawCartoon() {
    struct Disc {
      int cx, cy, r;
      uint8_t b, g, r8;
    };
    const Disc discs[] = {{160, 300, 90, 40, 40, 200},  {420, 260, 120, 30, 160, 60}, {300, 120, 60, 200, 120, 20},
                          {540, 380, 70, 90, 20, 140},  {80, 90, 50, 20, 200, 230},   {470, 80, 40, 240, 240, 240}};
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        uint8_t *p = cartoon.buffer + static_cast<size_t>(y) * cartoon.pitchBytes + 3 * x;
        // Sky in bands of eight rows over a flat ground.
        const bool ground = y < 140;
        p[0] = ground ? 30 : static_cast<uint8_t>(150 + y / 8);
        p[1] = ground ? 120 : static_cast<uint8_t>(90 + y / 16);
        p[2] = ground ? 50 : 40;
        for (const Disc &d : discs) {
          const int dx = x - d.cx, dy = y - d.cy, dd = dx * dx + dy * dy;
          if (dd > d.r * d.r) continue;
          const bool outline = dd > (d.r - 3) * (d.r - 3);
          p[0] = outline ? 0 : d.b;
          p[1] = outline ? 0 : d.g;
          p[2] = outline ? 0 : d.r8;
        }
      }
  }
};
Pictures &pictures() {
  static Pictures p;
  return p;
}

struct Encoded {
  std::vector<uint8_t> bytes[kFormatCount];
  std::vector<uint8_t> cartoon[kFormatCount];
};
// What each format is benchmarked with: GIF paletted, the others 24-bit.
const StillImage &sourceFor(Format f) { return f == Format::Gif ? pictures().pal : pictures().rgb; }
int32_t optionFor(Format f) { return stillFormat(f).saveOption; }
Encoded &encoded() {
  static Encoded e = [] {
    Encoded x;
    for (int i = 0; i < kFormatCount; ++i) {
      const auto f = static_cast<Format>(i);
      stillCodec(f).encode(sourceFor(f), optionFor(f), x.bytes[i]);
      stillCodec(f).encode(pictures().cartoon, optionFor(f), x.cartoon[i]);
    }
    return x;
  }();
  return e;
}

void ourLoad(Format f, bool cartoon = false) {
  const std::vector<uint8_t> &file = (cartoon ? encoded().cartoon : encoded().bytes)[static_cast<int>(f)];
  static StillImage img{};
  // As the graphics input does: one spare column, at the file's depth.
  const int bits = f == Format::Gif ? 8 : 24;
  if (!img.buffer || img.bitsPerPixel != bits) stillAllocate(&img, kW + 1, kH, bits);
  if (stillCodec(f).decode({file.data(), file.size()}, &img) != kStillOk) std::abort();
  benchmark::ClobberMemory();
}

void ourSave(Format f, bool cartoon = false) {
  static std::vector<uint8_t> out;
  out.clear();
  if (stillCodec(f).encode(cartoon ? pictures().cartoon : sourceFor(f), optionFor(f), out) != kStillOk) std::abort();
  benchmark::DoNotOptimize(out.data());
}

void memcpyPicture() {
  static std::vector<uint8_t> a(static_cast<size_t>(kW) * kH * 3, 7), b(a.size());
  std::memcpy(b.data(), a.data(), a.size());
  benchmark::ClobberMemory();
}

// ---- the libraries alone, doing the same work ----

struct Mem {
  const uint8_t *p;
  size_t n, pos;
};

void pngRead(png_structp png, png_bytep d, size_t n) {
  auto *m = static_cast<Mem *>(png_get_io_ptr(png));
  if (n > m->n - m->pos) png_error(png, "eof");
  std::memcpy(d, m->p + m->pos, n);
  m->pos += n;
}
void pngWrite(png_structp png, png_bytep d, size_t n) {
  auto *v = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
  v->insert(v->end(), d, d + n);
}

void libLoad_PNG() {
  const auto &file = encoded().bytes[static_cast<int>(Format::Png)];
  std::vector<uint8_t> row(kW * 3);
  {
    Mem m{file.data(), file.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &m, pngRead);
    png_read_info(png, info);
    png_set_bgr(png);
    png_read_update_info(png, info);
    for (int y = 0; y < kH; ++y) png_read_row(png, row.data(), nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::ClobberMemory();
  }
}

void libSave_PNG() {
  const StillImage &src = pictures().rgb;
  std::vector<uint8_t> out;
  {
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, pngWrite, nullptr);
    png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < kH; ++y) png_write_row(png, src.buffer + static_cast<size_t>(kH - 1 - y) * src.pitchBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    benchmark::DoNotOptimize(out.data());
  }
}

void libLoad_JPEG() {
  const auto &file = encoded().bytes[static_cast<int>(Format::Jpeg)];
  std::vector<uint8_t> row(kW * 3);
  {
    jpeg_decompress_struct ci;
    jpeg_error_mgr em;
    ci.err = jpeg_std_error(&em);
    jpeg_create_decompress(&ci);
    jpeg_mem_src(&ci, file.data(), file.size());
    jpeg_read_header(&ci, TRUE);
    ci.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&ci);
    while (ci.output_scanline < ci.output_height) {
      JSAMPROW r = row.data();
      jpeg_read_scanlines(&ci, &r, 1);
    }
    jpeg_destroy_decompress(&ci);
    benchmark::ClobberMemory();
  }
}

void libSave_JPEG() {
  const StillImage &src = pictures().rgb;
  {
    jpeg_compress_struct ci;
    jpeg_error_mgr em;
    ci.err = jpeg_std_error(&em);
    jpeg_create_compress(&ci);
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&ci, &buf, &size);
    ci.image_width = kW;
    ci.image_height = kH;
    ci.input_components = 3;
    ci.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&ci);
    jpeg_set_quality(&ci, 100, TRUE);
    for (int i = 0; i < ci.num_components; ++i) ci.comp_info[i].h_samp_factor = ci.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&ci, TRUE);
    while (ci.next_scanline < ci.image_height) {
      JSAMPROW r = src.buffer + static_cast<size_t>(kH - 1 - ci.next_scanline) * src.pitchBytes;
      jpeg_write_scanlines(&ci, &r, 1);
    }
    jpeg_finish_compress(&ci);
    jpeg_destroy_compress(&ci);
    std::free(buf);
  }
}

struct TiffMem {
  const uint8_t *p;
  std::vector<uint8_t> *out;
  uint64_t size, pos;
};
tmsize_t tRead(thandle_t h, void *b, tmsize_t n) {
  auto *m = static_cast<TiffMem *>(h);
  const uint8_t *base = m->out ? m->out->data() : m->p;
  const uint64_t size = m->out ? m->out->size() : m->size;
  const uint64_t take = m->pos >= size ? 0 : std::min<uint64_t>(n, size - m->pos);
  std::memcpy(b, base + m->pos, take);
  m->pos += take;
  return static_cast<tmsize_t>(take);
}
tmsize_t tWrite(thandle_t h, void *b, tmsize_t n) {
  auto *m = static_cast<TiffMem *>(h);
  if (m->pos + n > m->out->size()) m->out->resize(m->pos + n);
  std::memcpy(m->out->data() + m->pos, b, n);
  m->pos += n;
  return n;
}
toff_t tSeek(thandle_t h, toff_t off, int whence) {
  auto *m = static_cast<TiffMem *>(h);
  const uint64_t size = m->out ? m->out->size() : m->size;
  m->pos = (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : size) + off;
  return m->pos;
}
int tClose(thandle_t) { return 0; }
toff_t tSize(thandle_t h) {
  auto *m = static_cast<TiffMem *>(h);
  return m->out ? m->out->size() : m->size;
}
int tMap(thandle_t, void **, toff_t *) { return 0; }
void tUnmap(thandle_t, void *, toff_t) {}

void libLoad_TIFF() {
  const auto &file = encoded().bytes[static_cast<int>(Format::Tiff)];
  std::vector<uint8_t> row(kW * 3);
  {
    TiffMem m{file.data(), nullptr, file.size(), 0};
    TIFF *t = TIFFClientOpen("m", "rm", &m, tRead, tWrite, tSeek, tClose, tSize, tMap, tUnmap);
    for (int y = 0; y < kH; ++y) TIFFReadScanline(t, row.data(), y, 0);
    TIFFClose(t);
    benchmark::ClobberMemory();
  }
}

void libSave_TIFF() {
  const StillImage &src = pictures().rgb;
  std::vector<uint8_t> out, row(kW * 3);
  {
    out.clear();
    TiffMem m{nullptr, &out, 0, 0};
    TIFF *t = TIFFClientOpen("m", "w", &m, tRead, tWrite, tSeek, tClose, tSize, tMap, tUnmap);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kW);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kH);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 8192 / (kW * 3));
    for (int y = 0; y < kH; ++y) {
      const uint8_t *s = src.buffer + static_cast<size_t>(kH - 1 - y) * src.pitchBytes;
      for (int i = 0; i < kW; ++i) {
        row[3 * i] = s[3 * i + 2];
        row[3 * i + 1] = s[3 * i + 1];
        row[3 * i + 2] = s[3 * i];
      }
      TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFClose(t);
    benchmark::DoNotOptimize(out.data());
  }
}

int gRead(GifFileType *g, GifByteType *d, int n) {
  auto *m = static_cast<Mem *>(g->UserData);
  const size_t take = std::min<size_t>(n, m->n - m->pos);
  std::memcpy(d, m->p + m->pos, take);
  m->pos += take;
  return static_cast<int>(take);
}
int gWrite(GifFileType *g, const GifByteType *d, int n) {
  auto *v = static_cast<std::vector<uint8_t> *>(g->UserData);
  v->insert(v->end(), d, d + n);
  return n;
}

void libLoad_GIF() {
  const auto &file = encoded().bytes[static_cast<int>(Format::Gif)];
  std::vector<GifPixelType> line(kW);
  {
    Mem m{file.data(), file.size(), 0};
    int err = 0;
    GifFileType *g = DGifOpen(&m, gRead, &err);
    GifRecordType type;
    while (DGifGetRecordType(g, &type) != GIF_ERROR && type != IMAGE_DESC_RECORD_TYPE) {
    }
    DGifGetImageDesc(g);
    for (int y = 0; y < kH; ++y) DGifGetLine(g, line.data(), kW);
    DGifCloseFile(g, &err);
    benchmark::ClobberMemory();
  }
}

void libSave_GIF() {
  const StillImage &src = pictures().pal;
  std::vector<uint8_t> out;
  std::vector<GifPixelType> line(kW);
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) colours[i] = {src.palette[i][2], src.palette[i][1], src.palette[i][0]};
  {
    out.clear();
    int err = 0;
    ColorMapObject *map = GifMakeMapObject(256, colours);
    GifFileType *g = EGifOpen(&out, gWrite, &err);
    EGifPutScreenDesc(g, kW, kH, 8, 0, map);
    EGifPutImageDesc(g, 0, 0, kW, kH, false, nullptr);
    for (int y = 0; y < kH; ++y) {
      std::memcpy(line.data(), src.buffer + static_cast<size_t>(kH - 1 - y) * src.pitchBytes, kW);
      EGifPutLine(g, line.data(), kW);
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    benchmark::DoNotOptimize(out.data());
  }
}


double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Runs ours and the baseline alternately, each timed on this thread's CPU
// clock, so load from other processes falls on both alike. The counters give
// both times and speed = baseline time / our time (1.0: as fast).
template <typename Ours, typename Base>
void pairRun(benchmark::State &state, Ours ours, Base base) {
  double tOurs = 0, tBase = 0;
  ours();  // warm caches and lazily built inputs
  base();
  for (auto _ : state) {
    double t0 = threadSeconds();
    ours();
    double t1 = threadSeconds();
    base();
    double t2 = threadSeconds();
    tOurs += t1 - t0;
    tBase += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_us"] = tOurs / n * 1e6;
  state.counters["base_us"] = tBase / n * 1e6;
  state.counters["speed"] = tOurs > 0 ? tBase / tOurs : 0;
}

}  // namespace

#define STILL_VS_MEMCPY(F, tag)                                                                                \
  BENCHMARK_CAPTURE(pairRun, Load_##tag##_vs_memcpy, [] { ourLoad(Format::F); }, memcpyPicture)->MinTime(0.3); \
  BENCHMARK_CAPTURE(pairRun, Save_##tag##_vs_memcpy, [] { ourSave(Format::F); }, memcpyPicture)->MinTime(0.3);
#define STILL_VS_LIB(F, tag)                                                                                     \
  BENCHMARK_CAPTURE(pairRun, Load_##tag##_vs_lib, [] { ourLoad(Format::F); }, libLoad_##tag)->MinTime(0.3); \
  BENCHMARK_CAPTURE(pairRun, Save_##tag##_vs_lib, [] { ourSave(Format::F); }, libSave_##tag)->MinTime(0.3);
#define CARTOON_VS_MEMCPY(F, tag)                                                                                   \
  BENCHMARK_CAPTURE(pairRun, Load_##tag##_cartoon_vs_memcpy, [] { ourLoad(Format::F, true); }, memcpyPicture)        \
      ->MinTime(0.3);                                                                                               \
  BENCHMARK_CAPTURE(pairRun, Save_##tag##_cartoon_vs_memcpy, [] { ourSave(Format::F, true); }, memcpyPicture)        \
      ->MinTime(0.3);
STILL_VS_MEMCPY(Bmp, BMP)
STILL_VS_MEMCPY(Pcx, PCX)
STILL_VS_MEMCPY(Tga, TGA)
CARTOON_VS_MEMCPY(Pcx, PCX)
CARTOON_VS_MEMCPY(Tga, TGA)
STILL_VS_LIB(Png, PNG)
STILL_VS_LIB(Jpeg, JPEG)
STILL_VS_LIB(Tiff, TIFF)
STILL_VS_LIB(Gif, GIF)

// Targets: speed >= 0.83 against the library (at most 1.2x its time) for
// PNG, JPEG, TIFF and GIF. BMP, PCX and TGA are plain byte loops, measured
// against memcpy as a yardstick only: a few milliseconds a frame at most,
// small beside PNG's tens (the photo-like picture is the run-length coders'
// worst case, the cartoon their usual one).
BENCHMARK_MAIN();
