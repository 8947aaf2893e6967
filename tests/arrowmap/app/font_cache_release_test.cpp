// Cairo and fontconfig keep their font caches for the life of the process. Releasing
// them when the tests end lets the leak checker report only what the program leaks.
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace {

class FontCacheRelease : public ::testing::Environment {
 public:
  void TearDown() override {
    cairo_debug_reset_static_data();
    FcFini();
  }
};

const auto* const kFontCacheRelease = ::testing::AddGlobalTestEnvironment(new FontCacheRelease);

}  // namespace
