/* kavinfo: says which kavutil this is and what it can do, and proves the
   buffered bit file works on this machine with a short round trip. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <kavutil/kavutil.h>

static const char *const families[] = {
  "memory, strings, switches and rationals",
  "file names, elapsed time and timer",
  "buffered bit file (KAVFile)",
  "status window, threaded dialog and file questions",
  "list files, numbered sequences, movies inside .EXE files",
  "colour reduction, resampling and smooth-area dither",
  "Flic reader and writer",
  "Vorn frames, YUV to RGB, Vorn container and sound tracks",
  "Zanther reader and Huffman encoder",
  "transform audio coder",
  "still images: BMP, PCX, TGA, PNG, JPEG, TIFF, GIF",
  "AVI reader and writer, QuickTime reader",
};

int main(int argc, char **argv) {
  (void)argc;
  (void)argv;
  printf("kavutil %s\n", KAVUTIL_VERSION_STRING);
  printf("families built:\n");
  for (size_t i = 0; i < sizeof families / sizeof families[0]; ++i) printf("  %s\n", families[i]);

  char name[KAV_NAME_MAX];
  const char *tmp = getenv("TMPDIR");
  snprintf(name, sizeof name, "%s/kavinfo-%ld.bin", tmp && *tmp ? tmp : "/tmp", (long)getpid());
  KAVFile *f = KAVFileCreate(4096, name);
  if (!f) {
    fprintf(stderr, "kavinfo: cannot create %s\n", name);
    return 1;
  }
  uint32_t t0 = KAVTimerRead();
  for (uint32_t i = 0; i < 100000; ++i) KAVFilePutBits(f, i & 0x3FF, 10);
  KAVFileClose(f);
  f = KAVFileOpen(4096, name, KAV_FILE_READ);
  int ok = f != NULL;
  for (uint32_t i = 0; ok && i < 100000; ++i) ok = KAVFileGetBits(f, 10) == (i & 0x3FF);
  uint32_t size = KAVFileSize(f);
  KAVFileClose(f);
  KAVFileErase(name);
  char elapsed[64], bytes[16];
  GetElapsedTime(elapsed, KAVTimerRead() - t0);
  CommaNum(bytes, size);
  printf("bit file round trip: 100,000 fields of 10 bits, %s bytes, %s: %s\n", bytes, elapsed, ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
