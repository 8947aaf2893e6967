// MPEG video to RGB frames: libmpeg2's parse loop with its 24-bit RGB converter writing
// into three frame buffers that we own and hand over one picture at a time.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

extern "C" {
#include <mpeg2dec/mpeg2.h>
#include <mpeg2dec/mpeg2convert.h>
}

#include "platform/file.h"
#include "quiltbench/video/video_synthesis.h"
#include "quiltbench/video/video_synthesis_internal.h"

namespace quiltbench::video {
namespace {

constexpr std::size_t kReadSize = 4096;
// A 4096-byte read holds at most about a thousand start codes; far more states without
// asking for data means the decoder is going round in circles on a broken stream.
constexpr int kMaxStatesPerRead = 1 << 16;
constexpr std::uint8_t kSequenceEndCode[4] = {0x00, 0x00, 0x01, 0xB7};

// The decoder keeps two reference pictures and decodes into a third.
struct BufferSet {
  std::array<std::unique_ptr<std::uint8_t[]>, 3> rgb;
  // The decoder gets &inUse[k] as the buffer's id and hands it back when it lets go.
  std::array<bool, 3> inUse{};
};

std::unique_ptr<BufferSet> allocateBufferSet(std::size_t bytes) {
  auto set = std::make_unique<BufferSet>();
  for (auto& buffer : set->rgb) {
    buffer.reset(new (std::nothrow) std::uint8_t[bytes]);
    if (!buffer) {
      std::fputs("Could not allocate an output buffer.\n", stderr);
      std::exit(1);
    }
  }
  return set;
}

// Hands the decoder a buffer it does not hold; false when all three are held.
bool handOverFreeBuffer(mpeg2dec_t* decoder, BufferSet& set) {
  for (int k = 0; k < 3; ++k) {
    if (set.inUse[k]) continue;
    set.inUse[k] = true;
    std::uint8_t* planes[3] = {set.rgb[k].get(), nullptr, nullptr};
    mpeg2_set_buf(decoder, planes, &set.inUse[k]);
    return true;
  }
  return false;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct DecoderCloser {
  void operator()(mpeg2dec_t* d) const { mpeg2_close(d); }
};

class Decoder {
 public:
  explicit Decoder(std::FILE* file) : file_(file) {
    decoder_.reset(mpeg2_init());
    if (!decoder_) {
      std::fputs("Could not create the MPEG decoder.\n", stderr);
      std::exit(1);
    }
    info_ = mpeg2_info(decoder_.get());
  }

  VideoFrames run() {
    std::array<std::uint8_t, kReadSize> chunk;
    std::size_t size = chunk.size();
    int statesSinceRead = 0;
    bool flushed = false;
    do {
      const mpeg2_state_t state = mpeg2_parse(decoder_.get());
      if (state == STATE_BUFFER) {
        size = std::fread(chunk.data(), 1, chunk.size(), file_);
        if (size == 0 && live_ && !flushed) {
          // A stream that stops without a sequence end code still holds its last
          // picture (and the reference waiting to be shown): an end code lets them out.
          std::memcpy(chunk.data(), kSequenceEndCode, sizeof kSequenceEndCode);
          size = sizeof kSequenceEndCode;
          flushed = true;
        }
        mpeg2_buffer(decoder_.get(), chunk.data(), chunk.data() + size);
        statesSinceRead = 0;
        continue;
      }
      if (++statesSinceRead > kMaxStatesPerRead || !handle(state)) break;
    } while (size != 0);
    return std::move(video_);
  }

 private:
  // False when decoding has to stop here.
  bool handle(mpeg2_state_t state) {
    switch (state) {
      case STATE_SEQUENCE:
        return startSequence();
      case STATE_PICTURE:
        // A picture outside a sequence, or one more than the decoder can hold.
        return live_ && handOverFreeBuffer(decoder_.get(), *live_);
      case STATE_SLICE:
      case STATE_END:
      case STATE_INVALID_END:
        takeDisplayedFrame();
        if (state != STATE_SLICE) live_.reset();
        return true;
      default:
        return true;
    }
  }

  bool startSequence() {
    const mpeg2_sequence_t* sequence = info_->sequence;
    if (sequence == nullptr || sequence->width == 0 || sequence->height == 0) return false;
    // Frames of one video share one size; a later sequence of another size ends it.
    if (!video_.frames.empty() && (static_cast<int>(sequence->width) != video_.width ||
                                   static_cast<int>(sequence->height) != video_.height)) {
      return false;
    }
    mpeg2_convert(decoder_.get(), mpeg2convert_rgb24, nullptr);
    mpeg2_custom_fbuf(decoder_.get(), 1);
    video_.width = static_cast<int>(sequence->width);
    video_.height = static_cast<int>(sequence->height);
    // A new sequence without an end before it: the decoder may still show pictures of
    // the old buffers, so they stay alive until decoding is over.
    if (live_) retired_.push_back(std::move(live_));
    live_ = allocateBufferSet(video_.frameBytes());
    handOverFreeBuffer(decoder_.get(), *live_);
    handOverFreeBuffer(decoder_.get(), *live_);
    return true;
  }

  // The buffer behind a decoder's id, if it is one of ours that is still alive.
  const std::uint8_t* ownBuffer(const mpeg2_fbuf_t* fbuf, bool** flag) {
    auto find = [&](BufferSet& set) -> const std::uint8_t* {
      for (int k = 0; k < 3; ++k) {
        if (fbuf->id == &set.inUse[k]) {
          *flag = &set.inUse[k];
          return set.rgb[k].get();
        }
      }
      return nullptr;
    };
    if (live_) {
      if (const std::uint8_t* p = find(*live_)) return p;
    }
    for (auto& set : retired_) {
      if (const std::uint8_t* p = find(*set)) return p;
    }
    return nullptr;
  }

  void takeDisplayedFrame() {
    bool* flag = nullptr;
    if (info_->display_fbuf != nullptr && info_->sequence != nullptr) {
      const std::uint8_t* rgb = ownBuffer(info_->display_fbuf, &flag);
      if (rgb != nullptr && static_cast<int>(info_->sequence->width) == video_.width &&
          static_cast<int>(info_->sequence->height) == video_.height) {
        video_.frames.emplace_back(rgb, rgb + video_.frameBytes());
      }
    }
    if (info_->discard_fbuf != nullptr && ownBuffer(info_->discard_fbuf, &flag) != nullptr) {
      *flag = false;
    }
  }

  std::FILE* file_;
  // Declared before the decoder, so that the decoder is closed before they go.
  std::unique_ptr<BufferSet> live_;
  std::vector<std::unique_ptr<BufferSet>> retired_;
  std::unique_ptr<mpeg2dec_t, DecoderCloser> decoder_;
  const mpeg2_info_t* info_ = nullptr;
  VideoFrames video_;
};

}  // namespace

VideoFrames decodeMpegVideo(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(platform::openStdFile(path, "rb"));
  if (!file) throw VideoSynthesisError("cannot open the video " + path);
  VideoFrames video = Decoder(file.get()).run();
  if (video.frames.empty()) video.width = video.height = 0;
  return video;
}

}  // namespace quiltbench::video
