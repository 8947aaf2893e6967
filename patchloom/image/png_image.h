// PNG files through libpng. Reading composites transparency over (31, 127, 255),
// strips 16-bit samples to 8 and undoes interlacing: palette files stay indexed at
// their depth (2-bit files at 8 bits), grey files get a grey palette, every other kind
// becomes 24-bit colour.
#pragma once

#include "patchloom/image/image_impl.h"

class CPngImageImpl : public CFileImageImpl {
 public:
  using CFileImageImpl::CFileImageImpl;
  // 1 on success; 0, with no image left, for a missing, damaged or truncated file.
  int Read(const std::string& name) override;
  // Indexed images with a palette are written as palette files, other indexed ones as
  // grey, deeper ones as 8-bit RGB. 0 without an image or when the file cannot be
  // created or written.
  int Write(const std::string& name) override;

 private:
  [[maybe_unused]] int reserved = 0;  // carried by every PNG image; nothing reads it
};
