#include "patchloom/image/image.h"

#include <array>
#include <cctype>
#include <string_view>

#include "patchloom/image/bmp_image.h"
#include "patchloom/image/gif_image.h"
#include "patchloom/image/jpeg_image.h"
#include "patchloom/image/png_image.h"
#include "platform/replacing_file.h"

namespace {

struct ExtensionEntry {
  std::string_view name;
  int type;
};

// Sorted by name for the bisection below.
constexpr std::array<ExtensionEntry, 5> kExtensions{{
    {"BMP", kImageTypeBmp},
    {"GIF", kImageTypeGif},
    {"JPG", kImageTypeJpeg},
    {"PNG", kImageTypePng},
    {"XPM", kImageTypeXpm},
}};

// Compares as lower-case text, the way the extension table is searched.
int compareNoCase(std::string_view a, std::string_view b) {
  for (std::size_t i = 0;; ++i) {
    const int ca = i < a.size() ? std::tolower(static_cast<unsigned char>(a[i])) : 0;
    const int cb = i < b.size() ? std::tolower(static_cast<unsigned char>(b[i])) : 0;
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
}

}  // namespace

std::string GetFileExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return {};
  return name.substr(dot + 1);
}

int ImageTypeFromExtension(const std::string& extension) {
  if (extension.empty()) return kImageTypeUnknown;
  std::size_t lo = 0, hi = kExtensions.size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    const int order = compareNoCase(kExtensions[mid].name, extension);
    if (order == 0) return kExtensions[mid].type;
    if (order < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return kImageTypeUnknown;
}

CImage::CImage() = default;

CImage::CImage(const std::string& name, int type) { Load(name, type); }

CImage::~CImage() { delete impl_; }

int CImage::GetLineBytes() const { return impl_->GetLineBytes(); }
int CImage::GetWidth() const { return impl_->GetWidth(); }
int CImage::GetHeight() const { return impl_->GetHeight(); }
int CImage::GetBitCount() const { return impl_->GetBitCount(); }
int CImage::GetFlags() const { return impl_->GetFlags(); }
int CImage::IsInside(int x, int y) const { return impl_->IsInside(x, y); }

int CImage::Create(int width, int height, int bitCount, int flags) {
  if (!impl_) {
    CreateImpl("", kImageTypeBmp);
    type_ = kImageTypeBmp;
    fileName_.clear();
  }
  return impl_->Create(width, height, bitCount, flags);
}

int CImage::CreateImpl(const std::string& name, int type) {
  delete impl_;
  impl_ = nullptr;
  switch (type) {
    case kImageTypeBmp:
      impl_ = new CBmpImageImpl(name);
      break;
    case kImageTypeJpeg:
      impl_ = new CJpegImageImpl(name);
      break;
    case kImageTypeGif:
      impl_ = new CGifImageImpl(name);
      break;
    case kImageTypePng:
      impl_ = new CPngImageImpl(name);
      break;
    default:
      return 0;
  }
  return 1;
}

int CImage::Draw(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc, int startScan) {
  return impl_->Draw(dc, x, y, w, h, xSrc, startScan);
}

int CImage::StretchDraw(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc, int ySrc,
                        int wSrc, int hSrc) {
  return impl_->StretchDraw(dc, x, y, w, h, xSrc, ySrc, wSrc, hSrc);
}

int CImage::GetPixelIndex(int x, int y) const { return impl_->GetPixelIndex(x, y); }

int CImage::GetPixelRGB(int x, int y, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const {
  return impl_->GetPixelRGB(x, y, r, g, b);
}

int CImage::SetPixelIndex(int x, int y, int index) { return impl_->SetPixelIndex(x, y, index); }

int CImage::SetPixelRGB(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return impl_->SetPixelRGB(x, y, r, g, b);
}

int CImage::SetPaletteRGB(int n, const std::uint8_t* red, const std::uint8_t* green,
                          const std::uint8_t* blue) {
  return impl_->SetPaletteRGB(n, red, green, blue);
}

int CImage::SetPaletteTriples(int n, const std::uint8_t* rgb) {
  return impl_->SetPaletteTriples(n, rgb);
}

int CImage::SetPalette(CImagePalette* palette) { return impl_->SetPalette(palette); }
CImagePalette* CImage::GetPalette() const { return impl_->GetPalette(); }
int CImage::IsValid() const { return impl_ && impl_->HasDib() ? 1 : 0; }
CImageImpl* CImage::GetImpl() const { return impl_; }
std::uint8_t* CImage::GetBits() const { return impl_->GetBits(); }

std::string CImage::GetLastError() const {
  if (!saveError_.empty()) return saveError_;
  if (impl_ == nullptr) return fileName_ + ": no image format reads or writes this file type";
  return impl_->GetLastError();
}

void CImage::Load(const std::string& name, int type) {
  const int oldType = type_;
  fileName_ = name;
  saveError_.clear();
  if (type == kImageTypeUnknown) type = ImageTypeFromExtension(GetFileExtension(name));
  type_ = type;
  if (!impl_ || oldType != type) {
    if (!CreateImpl(name, type)) return;
  }
  impl_->Read(name);
}

int CImage::Save(const std::string& name, int type) {
  saveError_.clear();
  if (!impl_) return 0;
  const int oldType = type_;
  fileName_ = name;
  if (type == kImageTypeUnknown) type = ImageTypeFromExtension(GetFileExtension(name));
  type_ = type;
  if (type != oldType) {
    CImageImpl* old = impl_;
    impl_ = nullptr;
    if (!CreateImpl(name, type)) {
      impl_ = old;
      return 0;
    }
    impl_->TakeOver(*old);
    delete old;
  }
  platform::ReplacingFile file(name);
  if (!file.valid()) {
    saveError_ = file.error();
    return 0;
  }
  const int written = impl_->Write(file.temporaryPath());
  if (auto* fileImpl = dynamic_cast<CFileImageImpl*>(impl_)) fileImpl->SetFileName(name);
  if (!written) {
    // The reason names the temporary; the user knows the file by the name they gave.
    saveError_ = impl_->GetLastError();
    const std::size_t at = saveError_.find(file.temporaryPath());
    if (at != std::string::npos) saveError_.replace(at, file.temporaryPath().size(), name);
    return 0;
  }
  if (!file.commit()) {
    saveError_ = file.error();
    return 0;
  }
  return 1;
}
