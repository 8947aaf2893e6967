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
