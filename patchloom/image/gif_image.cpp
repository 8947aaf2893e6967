#include "patchloom/image/gif_image.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/file.h"

namespace {

constexpr std::size_t kInputBufferBytes = 16384;
constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeSize = 12;
// A chain is at most one byte per table entry plus the repeated first byte.
constexpr int kStackSize = kMaxCodes + 1;

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

// Codes of the image data, least significant bit first, taken from whole data sub-blocks.
class GifCodeReader {
 public:
  explicit GifCodeReader(GifInput& input) : input_(input) {}

  // The next code of `size` bits, or -1 when the data sub-blocks (or the file) end.
  int next(int size) {
    while (bits_ < size) {
      if (blockPos_ == blockLength_) {
        if (ended_) return -1;
        const int length = input_.readByte();
        if (length <= 0) {
          ended_ = true;
          return -1;
        }
        blockLength_ = input_.read(block_.data(), static_cast<std::size_t>(length));
        blockPos_ = 0;
        if (blockLength_ == 0) {
          ended_ = true;
          return -1;
        }
      }
      accumulator_ |= static_cast<std::uint32_t>(block_[blockPos_++]) << bits_;
      bits_ += 8;
    }
    const int code = static_cast<int>(accumulator_ & ((1u << size) - 1));
    accumulator_ >>= size;
    bits_ -= size;
    return code;
  }

 private:
  GifInput& input_;
  std::array<std::uint8_t, 255> block_{};
  std::size_t blockPos_ = 0, blockLength_ = 0;
  std::uint32_t accumulator_ = 0;
  int bits_ = 0;
  bool ended_ = false;
};

// Places decoded lines into the bottom-up DIB: picture row r goes to DIB row height-1-r,
// and interlaced pictures come in four passes.
class GifLinePlacer {
 public:
  GifLinePlacer(std::uint8_t* bits, int stride, int height, bool interlaced)
      : bits_(bits), stride_(stride), height_(height), interlaced_(interlaced) {}

  // false once every row has been filled.
  bool put(const std::uint8_t* line, int length) {
    if (pass_ >= 4 || row_ >= height_) return false;
    std::memcpy(bits_ + static_cast<std::size_t>(height_ - 1 - row_) * stride_, line,
                static_cast<std::size_t>(length));
    if (!interlaced_) {
      ++row_;
      return true;
    }
    row_ += kStep[pass_];
    while (row_ >= height_ && ++pass_ < 4) row_ = kStart[pass_];
    return true;
  }

 private:
  static constexpr int kStart[4] = {0, 4, 2, 1};
  static constexpr int kStep[4] = {8, 8, 4, 2};

  std::uint8_t* bits_;
  int stride_, height_;
  bool interlaced_;
  int row_ = 0, pass_ = 0;
};

int decodeGifImage(GifInput& input, GifLinePlacer& placer, int width) {
  const int minCodeSize = input.readByte();
  if (minCodeSize < 2 || minCodeSize > 9) return detail::kGifBadCodeSize;
  std::vector<std::uint8_t> line;
  try {
    line.resize(static_cast<std::size_t>(width) + 1);
  } catch (const std::bad_alloc&) {
    return detail::kGifNoLineBuffer;
  }
  std::array<std::uint16_t, kMaxCodes> prefix{};
  std::array<std::uint8_t, kMaxCodes> suffix{};
  std::array<std::uint8_t, kStackSize> stack{};

  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  int codeSize = minCodeSize + 1;
  int limit = 1 << codeSize;
  int nextFree = clear + 2;
  int previous = -1;
  std::uint8_t first = 0;
  int linePos = 0;
  GifCodeReader reader(input);

  auto finish = [&](int status) {
    if (linePos > 0 && !placer.put(line.data(), linePos)) return int{detail::kGifPastLastRow};
    return status;
  };

  for (;;) {
    int code = reader.next(codeSize);
    if (code < 0) return finish(detail::kGifDataEnded);
    if (code == end) return finish(detail::kGifDecoded);
    if (code == clear || previous < 0) {
      if (code == clear) {
        codeSize = minCodeSize + 1;
        limit = 1 << codeSize;
        nextFree = clear + 2;
        do code = reader.next(codeSize);
        while (code == clear);
        if (code < 0) return finish(detail::kGifDataEnded);
        if (code == end) return finish(detail::kGifDecoded);
      }
      if (code >= nextFree) code = 0;
      previous = code;
      first = static_cast<std::uint8_t>(code);
      line[linePos++] = first;
      if (linePos == width) {
        if (!placer.put(line.data(), width)) return detail::kGifPastLastRow;
        linePos = 0;
      }
      continue;
    }

    const int incoming = code;
    int sp = 0;
    // A code not yet in the table (the encoder's one-step-ahead case, or a hostile
    // code above it) stands for the previous string plus its own first byte.
    if (code >= nextFree) {
      stack[sp++] = first;
      code = previous;
    }
    // Every entry's prefix is a smaller code, so the chain ends within the stack.
    while (code > end) {
      if (sp >= kStackSize - 1) return detail::kGifDataEnded;
      stack[sp++] = suffix[code];
      code = prefix[code];
    }
    first = static_cast<std::uint8_t>(code);
    stack[sp++] = first;

    if (nextFree < kMaxCodes) {
      prefix[nextFree] = static_cast<std::uint16_t>(previous);
      suffix[nextFree] = first;
      ++nextFree;
      if (nextFree >= limit && codeSize < kMaxCodeSize) {
        ++codeSize;
        limit <<= 1;
      }
    }
    previous = incoming;

    while (sp > 0) {
      const int n = std::min(sp, width - linePos);
      for (int i = 0; i < n; ++i) line[linePos + i] = stack[sp - 1 - i];
      sp -= n;
      linePos += n;
      if (linePos == width) {
        if (!placer.put(line.data(), width)) return detail::kGifPastLastRow;
        linePos = 0;
      }
    }
  }
}

}  // namespace

int CGifImageImpl::Read(const std::string& name) {
  const std::string& path = UseName(name);
  std::FILE* file = platform::openStdFile(path, "rb");
  if (!file) return 0;
  FreeImage();
  width = height = stride = 0;
  transparentIndex = -1;
  GifInput input(file);

  std::uint8_t header[13];
  const std::size_t headerBytes = input.read(header, sizeof header);
  if (headerBytes < 4 || std::memcmp(header, "GIF8", 4) != 0) {
    std::fclose(file);
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
        if (input.read(control, static_cast<std::size_t>(size)) < static_cast<std::size_t>(size)) break;
        if (size >= 4 && (control[0] & 1)) transparentIndex = control[3];
      }
      for (int length = input.readByte(); length > 0; length = input.readByte())
        if (input.read(nullptr, static_cast<std::size_t>(length)) < static_cast<std::size_t>(length)) break;
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
      GifLinePlacer placer(bits, stride, height, (imageFlags & 0x40) != 0);
      decodeGifImage(input, placer, width);
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
  UseName(name);
  return 0;
}
