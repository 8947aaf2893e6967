// Feeds arbitrary bytes to the BMP reader as a file, and exercises what a caller does
// with an accepted handle: the header queries, drawing, the palette, the engine's
// conversion to pixel rows and writing it back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/canvas.h"
#include "platform/global_memory.h"
#include "quiltbench/engine/dib.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"

namespace {

std::string scratchPath(const char* suffix) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/bmp_dib_fuzz_" + std::to_string(getpid()) +
         suffix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string input = scratchPath(".bmp");
  static const std::string output = scratchPath("_out.bmp");
  std::FILE* f = std::fopen(input.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  CDib dib;
  platform::HGLOBAL h = dib.Load(input);
  if (h) {
    {
      platform::GlobalLockGuard lock(h);
      volatile std::uint32_t sink = DibWidth(lock.data()) + DibHeight(lock.data()) +
                                    DibColorCount(lock.data()) + DibBitCount(lock.data());
      (void)sink;
    }
    platform::DeviceContext dc(40, 40);
    platform::Palette palette;
    DibCreatePalette(h, palette);
    DibPaint(dc, {0, 0, 40, 40}, h, {0, 0, 40, 40}, palette.isCreated() ? &palette : nullptr);
    DibPaint(dc, {0, 0, 40, 40}, h, {0, 0, 20, 30}, nullptr);
    CGraphCutSynthesizer::DibToRows(h);  // every depth the engine converts
    dib.Save(output, h);
    platform::GlobalFree(h);
  }
  std::remove(input.c_str());
  std::remove(output.c_str());
  return 0;
}
