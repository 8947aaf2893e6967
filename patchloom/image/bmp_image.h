// BMP files: 1, 4, 8, 16, 24 and 32 bits, info or core headers, with or without the
// "BM" file header.
#pragma once

#include "patchloom/image/image_impl.h"

class CBmpImageImpl : public CFileImageImpl {
 public:
  using CFileImageImpl::CFileImageImpl;
  // 1 on success; 0 with no image left for a missing, malformed or short file.
  int Read(const std::string& name) override;
  // 1 on success; 0 without an image, or when the file cannot be created or written.
  int Write(const std::string& name) override;
};
