// DIB handles (movable global blocks holding a packed device-independent bitmap:
// header, colour table, bottom-up rows padded to 4 bytes) and BMP files. CDib is the
// BMP-file part at the start of the engine object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/canvas.h"
#include "platform/file.h"
#include "platform/global_memory.h"

// Draws the bitmap into `dc`: unstretched from its origin when the two rectangles have
// the same size (the source rectangle then gives only the size), stretched otherwise.
// Returns the drawing call's result; 0 for a null handle or a block too small for its header.
int DibPaint(platform::DeviceContext& dc, const platform::Rect& dest, platform::HGLOBAL dib,
             const platform::Rect& source, platform::Palette* palette);

// Creates a logical palette from the colour table into `palette`. False for a null
// handle, a DIB without colour table or a failed allocation.
bool DibCreatePalette(platform::HGLOBAL dib, platform::Palette& palette);

// Functions on a locked header. Width and height are the stored fields, zero-extended
// from a core header's 16 bits; a negative info height comes back as a large number.
unsigned char* DibBits(void* header);
const unsigned char* DibBits(const void* header);
std::uint32_t DibWidth(const void* header);
std::uint32_t DibHeight(const void* header);
std::uint16_t DibPaletteSize(const void* header);
std::uint16_t DibColorCount(const void* header);
std::uint16_t DibBitCount(const void* header);
// Bytes of the three bit-field masks between an info header and its rows: 12 for a
// bit-field bitmap, 0 otherwise.
std::uint32_t DibMaskBytes(const void* header);
// The red, green and blue masks of a 16- or 32-bit bitmap: its bit fields, or for plain
// rows 5-5-5 and 8-8-8. False for other depths.
bool DibChannelMasks(const void* header, std::uint32_t masks[3]);

// A new movable, zero-initialised block holding a byte copy of `block`; null for a null
// input or a failed allocation. The caller owns the copy.
platform::HGLOBAL DibCopyHandle(platform::HGLOBAL block);

// Writes the handle as a BMP file into the open `file`. The handle's image-size field is
// brought up to date first for uncompressed bitmaps. False, with nothing written, for a
// null handle, a core header or a block shorter than its header describes. A
// FileException from the writes passes to the caller with the block unlocked.
bool DibWriteFile(platform::HGLOBAL dib, platform::File& file);

// Reads a BMP file from the open `file` into a new handle owned by the caller; null when
// the file is not a BMP whose header, colour table and pixel rows all lie inside it, with
// the reason in `problem` when given. The rows are taken from the file header's pixel
// offset and follow the colour table directly in the handle; longer info headers are
// kept as a 40-byte one with their masks. A FileException from the reads passes to the
// caller.
platform::HGLOBAL DibReadFile(platform::File& file, std::string* problem = nullptr);

class CDib {
 public:
  using HGLOBAL = platform::HGLOBAL;

  CDib() = default;
  // Frees no handle: the engine object decides what it owns.
  virtual ~CDib() = default;
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  // Run-time class name.
  static constexpr const char* kClassName = "CDib";

  // Reads the BMP file at `path` into a new handle owned by the caller; null when it
  // cannot be opened or read, or when the size check refuses it. Never throws.
  HGLOBAL Load(const std::string& path);

  // The size check of Load: refuses (false) images under 32 pixels wide or high and
  // widths or heights that are negative as signed numbers (top-down bitmaps).
  // An accepted size goes into m_nWidth and m_nHeight.
  bool SetImageSize(HGLOBAL handle);

  // Writes `handle` as a BMP file at `path`; false when the file cannot be created or
  // written or the handle cannot be saved. Never throws.
  bool Save(const std::string& path, HGLOBAL handle);

  // Text of the last refusal ("BMP Image is too big or too small for loading",
  // "Reading Image error!\n Maybe the type is not supported!", "Cannot save BMP Image!"),
  // empty after a success. Not shown to the user at this level.
  const std::string& lastError() const { return m_strLastError; }
  // Why the last Load, Save or synthesis failed, naming the file or the sizes, for the
  // caller to print beside its message; empty after a success.
  const std::string& lastReason() const { return m_strReason; }

  platform::File m_loadFile;
  platform::File m_secondFile;
  HGLOBAL m_hSourceImage = nullptr;
  HGLOBAL m_hSecondImage = nullptr;
  HGLOBAL m_hResultImage = nullptr;
  std::string m_strMessage;

  // The engine's image size, written by Load.
  int m_nWidth = 0;
  int m_nHeight = 0;

 protected:
  std::string m_strReason;

 private:
  std::string m_strLastError;
};
