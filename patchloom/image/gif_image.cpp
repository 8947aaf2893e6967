#include "patchloom/image/gif_image.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/file.h"

namespace {

constexpr std::size_t kInputBufferBytes = 16384;
constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeSize = 12;

// How decoding the image data ended; the image keeps what was decoded in every case.
enum GifDecodeStatus {
  kGifDecoded = 0,
  kGifPastLastRow = -1,   // more pixels than the image holds
  kGifNoMemory = -10,     // no memory for the data or the decoded pixels
  kGifBadCodeSize = -20,  // minimum code size outside 2 ... 9
  kGifDataEnded = -30,    // the data ran out before the end code
};

// The file read through one 16384-byte buffer, refilled when it runs dry.
class GifInput {
 public:
  explicit GifInput(std::FILE* file) : file_(file) {}

  // The next byte, or -1 at the end of the file.
  int readByte() {
    if (pos_ == length_ && !refill()) return -1;
    return buffer_[pos_++];
  }

  // Up to `count` bytes into `out`; returns how many there were.
  std::size_t read(std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (pos_ == length_ && !refill()) break;
      const std::size_t n = std::min(count - done, length_ - pos_);
      if (out) std::memcpy(out + done, &buffer_[pos_], n);
      pos_ += n;
      done += n;
    }
    return done;
  }

 private:
  bool refill() {
    length_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    pos_ = 0;
    return length_ > 0;
  }

  std::FILE* file_;
  std::array<std::uint8_t, kInputBufferBytes> buffer_;
  std::size_t pos_ = 0, length_ = 0;
};

// The image data: the minimum code size, then data sub-blocks up to an empty one (or the
// end of the file), gathered into one buffer so that codes can be taken without looking
// for block boundaries.
class GifCodeReader {
 public:
  // Reads every data sub-block; false when memory runs out.
  bool gather(GifInput& input) {
    try {
      for (int length = input.readByte(); length > 0; length = input.readByte()) {
        const std::size_t at = data_.size();
        data_.resize(at + static_cast<std::size_t>(length));
        const std::size_t got = input.read(data_.data() + at, static_cast<std::size_t>(length));
        if (got < static_cast<std::size_t>(length)) {
          data_.resize(at + got);
          break;
        }
      }
      bitEnd_ = static_cast<std::uint64_t>(data_.size()) * 8;
      data_.resize(data_.size() + 8, 0);  // lets next() load 8 bytes anywhere
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  std::size_t bytes() const { return static_cast<std::size_t>(bitEnd_ / 8); }

  // The next code of `size` bits, least significant bit first; -1 once the data is used up.
  int next(int size) {
    if (bitPos_ + static_cast<std::uint64_t>(size) > bitEnd_) return -1;
    std::uint64_t word;
    std::memcpy(&word, data_.data() + (bitPos_ >> 3), sizeof word);
    const int code = static_cast<int>((word >> (bitPos_ & 7)) & ((1u << size) - 1));
    bitPos_ += static_cast<std::uint64_t>(size);
    return code;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::uint64_t bitPos_ = 0, bitEnd_ = 0;
};

// Decodes LZW codes into `out` (the picture's pixels in the order they come, `capacity`
// bytes). Every table entry is a run of earlier output: the previous string plus the
// first byte of the one after it, which the decoder has always written right behind the
// previous string. So strings are copied out of the output, and a code's chain is never
// walked. Sets `decoded` to the pixels written.
int decodeGifCodes(GifCodeReader& reader, int minCodeSize, std::uint8_t* out, std::size_t capacity,
                   std::size_t& decoded) {
  std::array<std::uint32_t, kMaxCodes> start{};
  std::array<std::uint16_t, kMaxCodes> length{};
  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  int codeSize = minCodeSize + 1;
  int limit = 1 << codeSize;
  int nextFree = clear + 2;
  bool havePrevious = false;
  std::size_t previousStart = 0, previousLength = 0;
  std::size_t pos = 0;
  decoded = 0;

  for (;;) {
    int code = reader.next(codeSize);
    if (code < 0) {
      decoded = pos;
      return kGifDataEnded;
    }
    if (code == end) {
      decoded = pos;
      return kGifDecoded;
    }
    if (code == clear) {
      codeSize = minCodeSize + 1;
      limit = 1 << codeSize;
      nextFree = clear + 2;
      havePrevious = false;
      continue;
    }
    if (pos >= capacity) {
      decoded = pos;
      return kGifPastLastRow;
    }
    if (!havePrevious) {
      // The first code after a clear code is a single byte; one not in the table is 0.
      if (code >= nextFree) code = 0;
      out[pos] = static_cast<std::uint8_t>(code);
      previousStart = pos;
      previousLength = 1;
      ++pos;
      havePrevious = true;
      continue;
    }

    std::size_t runLength;
    if (code < clear) {
      out[pos] = static_cast<std::uint8_t>(code);
      runLength = 1;
    } else if (code < nextFree) {
      runLength = length[code];
      const std::size_t n = std::min(runLength, capacity - pos);
      const std::uint8_t* from = out + start[code];
      std::uint8_t* to = out + pos;
      if (n <= 16) {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
      } else {
        std::memcpy(to, from, n);
      }
    } else {
      // A code not yet in the table (the encoder's one-step-ahead case, or a hostile code
      // above it) stands for the previous string plus that string's first byte.
      runLength = previousLength + 1;
      const std::size_t n = std::min(runLength, capacity - pos);
      const std::size_t copied = std::min(previousLength, n);
      std::memmove(out + pos, out + previousStart, copied);
      if (n > copied) out[pos + copied] = out[previousStart];
    }

    if (nextFree < kMaxCodes) {
      start[nextFree] = static_cast<std::uint32_t>(previousStart);
      length[nextFree] = static_cast<std::uint16_t>(previousLength + 1);
      ++nextFree;
      if (nextFree >= limit && codeSize < kMaxCodeSize) {
        ++codeSize;
        limit <<= 1;
      }
    }
    previousStart = pos;
    previousLength = runLength;
    pos += runLength;
    if (pos > capacity) {
      decoded = capacity;
      return kGifPastLastRow;
    }
  }
}

// Decodes the image data and places the lines into the bottom-up DIB: picture row r goes
// to DIB row height-1-r, and interlaced pictures come in four passes.
int decodeGifImage(GifInput& input, std::uint8_t* bits, int stride, int width, int height,
                   bool interlaced) {
  const int minCodeSize = input.readByte();
  if (minCodeSize < 2 || minCodeSize > 9) return kGifBadCodeSize;
  GifCodeReader reader;
  if (!reader.gather(input)) return kGifNoMemory;
  // No more pixels than the data can make: each code takes at least three bits and
  // yields at most one byte more than the table holds.
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::size_t producible = (reader.bytes() * 8 / 3 + 1) * (kMaxCodes + 1);
  // Only the decoded part is ever read, so the buffer need not be cleared.
  const std::size_t capacity = std::min(pixels, producible);
  std::unique_ptr<std::uint8_t[]> picture(new (std::nothrow) std::uint8_t[capacity]);
  if (!picture) return kGifNoMemory;
  std::size_t decoded = 0;
  const int status = decodeGifCodes(reader, minCodeSize, picture.get(), capacity, decoded);

  static constexpr int kStart[4] = {0, 4, 2, 1};
  static constexpr int kStep[4] = {8, 8, 4, 2};
  int pass = 0, row = 0;
  for (std::size_t line = 0; line * static_cast<std::size_t>(width) < decoded; ++line) {
    const std::size_t from = line * static_cast<std::size_t>(width);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(width), decoded - from);
    std::memcpy(bits + static_cast<std::size_t>(height - 1 - row) * stride, picture.get() + from,
                n);
    if (!interlaced) {
      ++row;
    } else {
      row += kStep[pass];
      while (row >= height && ++pass < 4) row = kStart[pass];
      if (pass >= 4) break;
    }
    if (row >= height) break;
  }
  return status;
}

}  // namespace

int CGifImageImpl::Read(const std::string& name) {
  const std::string& path = UseName(name);
  lastError.clear();
  std::FILE* file = platform::openStdFile(path, "rb");
  if (!file) {
    lastError = path + ": cannot open: " + std::strerror(errno);
    return 0;
  }
  FreeImage();
  width = height = stride = 0;
  transparentIndex = -1;
  GifInput input(file);

  std::uint8_t header[13];
  const std::size_t headerBytes = input.read(header, sizeof header);
  if (headerBytes < 4 || std::memcmp(header, "GIF8", 4) != 0) {
    std::fclose(file);
    lastError = path + ": signature: not \"GIF8\"";
    return 0;
  }
  if (headerBytes < sizeof header) {
    std::fclose(file);
    return 1;
  }

  std::array<std::uint8_t, 3 * 256> table{};
  int tableEntries = 0;
  const std::uint8_t screenFlags = header[10];
  if (screenFlags & 0x80) {
    tableEntries = 1 << ((screenFlags & 7) + 1);
    input.read(table.data(), static_cast<std::size_t>(tableEntries) * 3);
  }

  for (;;) {
    const int introducer = input.readByte();
    if (introducer == 0x21) {
      const int label = input.readByte();
      if (label < 0) break;
      if (label == 0xF9) {
        const int size = input.readByte();
        if (size < 0) break;
        std::uint8_t control[255];
        if (input.read(control, static_cast<std::size_t>(size)) < static_cast<std::size_t>(size))
          break;
        if (size >= 4 && (control[0] & 1)) transparentIndex = control[3];
      }
      for (int length = input.readByte(); length > 0; length = input.readByte())
        if (input.read(nullptr, static_cast<std::size_t>(length)) <
            static_cast<std::size_t>(length))
          break;
    } else if (introducer == 0x2C) {
      std::uint8_t descriptor[9];
      if (input.read(descriptor, sizeof descriptor) < sizeof descriptor) break;
      const int imageWidth = descriptor[4] | (descriptor[5] << 8);
      const int imageHeight = descriptor[6] | (descriptor[7] << 8);
      const std::uint8_t imageFlags = descriptor[8];
      if (imageFlags & 0x80) {
        tableEntries = 1 << ((imageFlags & 7) + 1);
        table.fill(0);
        input.read(table.data(), static_cast<std::size_t>(tableEntries) * 3);
      }
      // The image gets its own size; the logical screen plays no part in the layout.
      if (!Create(imageWidth, imageHeight, 8, -1)) break;
      if (tableEntries > 0) {
        std::array<std::uint8_t, 256> red{}, green{}, blue{};
        for (int i = 0; i < tableEntries; ++i) {
          red[i] = table[3 * i];
          green[i] = table[3 * i + 1];
          blue[i] = table[3 * i + 2];
        }
        int entries = tableEntries;
        if (transparentIndex >= 0) {
          // Black under the transparent index and a white entry somewhere, for the
          // mask that transparent drawing builds.
          red[transparentIndex] = green[transparentIndex] = blue[transparentIndex] = 0;
          for (int i = tableEntries; i < 256; ++i) red[i] = green[i] = blue[i] = 255;
          entries = 256;
          bool white = false;
          for (int i = 0; i < 256 && !white; ++i)
            white = red[i] == 255 && green[i] == 255 && blue[i] == 255;
          if (!white) red[255] = green[255] = blue[255] = 255;
        }
        SetPaletteRGB(entries, red.data(), green.data(), blue.data());
      }
      decodeGifImage(input, bits, stride, width, height, (imageFlags & 0x40) != 0);
      // Only the first image of a file is read.
      break;
    } else {
      break;
    }
  }
  std::fclose(file);
  return 1;
}

int CGifImageImpl::Write(const std::string& name) {
  lastError = UseName(name) + ": GIF files are read, never written";
  return 0;
}
