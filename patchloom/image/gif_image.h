// GIF files, read only: the first image of the file, 8 bits a pixel with its local or
// global colour table, interlaced or not, with graphic-control transparency.
#pragma once

#include "patchloom/image/image_impl.h"

class CGifImageImpl : public CFileImageImpl {
 public:
  using CFileImageImpl::CFileImageImpl;
  // 0 for a missing file or one that does not start with "GIF8"; otherwise 1, whatever
  // the image data held (damaged data only ends decoding early, leaving the rest of
  // the image at index 0).
  int Read(const std::string& name) override;
  // GIF files are not written: 0.
  int Write(const std::string& name) override;
};

namespace detail {
// Decoding results of the LZW image data, for tests.
enum GifDecodeStatus {
  kGifDecoded = 0,
  kGifPastLastRow = -1,    // more lines than the image has rows
  kGifNoLineBuffer = -10,  // no memory for a line
  kGifBadCodeSize = -20,   // minimum code size outside 2 ... 9
  kGifDataEnded = -30,     // the data ran out before the end code
};
}  // namespace detail
