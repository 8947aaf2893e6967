// Packed device-independent bitmaps in movable global memory blocks, as the image
// classes keep them: a 40-byte info header, the colour table, then the pixel rows
// bottom-up, each padded to 4 bytes. Also the BMP file reader and writer of such blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/global_memory.h"

class CImagePalette;

// Limits on images: a side fits the 16-bit fields of GIF and JPEG, and no image gets more
// than 2^26 pixels (8192 x 8192, far beyond what texture synthesis takes), so a small
// hostile file cannot make us allocate or clear gigabytes.
inline constexpr std::int64_t kMaxImageSide = 65535;
inline constexpr std::int64_t kMaxImagePixels = std::int64_t{1} << 26;

// Bytes of the colour table that follows a DIB header: entries = biClrUsed, or
// 1 << biBitCount when that is 0 and biBitCount <= 8; 3 bytes an entry after a 12-byte
// core header, 4 otherwise. With bit fields (compression 3) the three 4-byte masks.
std::size_t ImageDibColorTableSize(const void* dib);

// Entries of the colour table by the same rule (3 with bit fields).
std::size_t ImageDibColorTableEntries(const void* dib);

// A new zeroed block holding the 40-byte header, 1024 bytes of colour-table room and
// the rows. 4- and 8-bit DIBs get the default 16-colour table, repeated. Null for
// sizes that are not positive, a bit count other than 1, 4, 8, 16, 24 or 32 (those a
// BMP file can hold), more
// than kMaxImageSide a side or kMaxImagePixels in all, or when memory runs out.
platform::HGLOBAL ImageDibAlloc(int bitCount, int width, int height);

// Fills the colour table of `dib`. Mode 1: the 16-bit palette indices 0, 1, 2, ...
// (the table's form while a palette is attached). Mode 0: (blue, green, red, 0) quads
// from `palette`, or from the stock default palette when it is null; entries past the
// palette's end become black. Nothing for bit fields or an empty table.
void ImageDibSetColorTable(void* dib, const CImagePalette* palette, int mode);

// A palette of the DIB's biClrUsed colour-table quads with the given entry flags, or
// null when biClrUsed is 0. The caller owns it.
std::unique_ptr<CImagePalette> ImageDibCreatePalette(const void* dib, int flags);

// Reads the file and info headers and the colour table from `file`, leaving the file
// at the first pixel byte. The result is a block of the 40-byte header (core headers
// widened, longer headers cut to 40 bytes, biSizeImage and biClrUsed made exact) and
// the colour table. A file that does not start with "BM" is read as a bare DIB.
// Run-length files (RLE8 at 8 bits, RLE4 at 4) keep their compression here, with
// biSizeImage the compressed bytes. Null when the headers are short, name a layout we do
// not read (another compression, masks that are not contiguous runs of bits), sizes out
// of the limits above, or pixels past the file's end; the reason, naming the field, goes
// into `error` when given.
platform::HGLOBAL ImageDibReadHeader(std::FILE* file, std::string* error = nullptr);

// A block with the whole DIB of the BMP file `name`: plain rows, bottom-up, whatever the
// file's row order or run-length coding. Run-length data that ends early leaves the
// pixels it did not reach at index 0; runs past a row's end are cut there. Null on any
// failure (no file, bad headers, short pixel data, no memory), with the reason, starting
// with the file's name, in `error` when given.
platform::HGLOBAL ImageDibLoadFile(const std::string& name, std::string* error = nullptr);

// Writes `dib` (locked) as a BMP file. 0 for no DIB, a file that cannot be created or a
// write that fails (the reason, starting with the name, in `error` when given); 1 otherwise.
int ImageDibSaveFile(const std::string& name, const void* dib, std::string* error = nullptr);

// Writes `size` bytes to `file`, in 32768-byte pieces while more than 32768 remain, then
// the rest. Returns `size`, or 0 when a piece could not be written.
std::size_t ImageDibWrite(platform::File& file, const void* data, std::size_t size);

namespace detail {
// The piece loop of ImageDibWrite over any sink that returns the bytes it took.
std::size_t imageDibWritePieces(const void* data, std::size_t size,
                                const std::function<std::size_t(const void*, std::size_t)>& sink);
}  // namespace detail
