#include "quiltbench/engine/dib.h"

int DibPaint(platform::DeviceContext&, const platform::Rect&, platform::HGLOBAL,
             const platform::Rect&, platform::Palette*) { return 0; }
bool DibCreatePalette(platform::HGLOBAL, platform::Palette&) { return false; }
unsigned char* DibBits(void* header) { return static_cast<unsigned char*>(header); }
const unsigned char* DibBits(const void* header) { return static_cast<const unsigned char*>(header); }
std::uint32_t DibWidth(const void*) { return 0; }
std::uint32_t DibHeight(const void*) { return 0; }
std::uint16_t DibPaletteSize(const void*) { return 0; }
std::uint16_t DibColorCount(const void*) { return 0; }
std::uint16_t DibBitCount(const void*) { return 0; }
platform::HGLOBAL DibCopyHandle(platform::HGLOBAL) { return nullptr; }
bool DibWriteFile(platform::HGLOBAL, platform::File&) { return false; }
platform::HGLOBAL DibReadFile(platform::File&) { return nullptr; }
CDib::HGLOBAL CDib::Load(const std::string&) { return nullptr; }
bool CDib::SetImageSize(HGLOBAL) { return false; }
bool CDib::Save(const std::string&, HGLOBAL) { return false; }
