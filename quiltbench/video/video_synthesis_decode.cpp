// MPEG video to RGB frames. The file is read and demultiplexed here; libmpeg2's parse loop
// with its 24-bit RGB converter runs in a child process (it writes out of bounds on
// hostile streams), writing into guarded buffers that we own and hand over one picture
// at a time, and the frames come back over a pipe.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <mpeg2dec/mpeg2.h>
#include <mpeg2dec/mpeg2convert.h>
}

#include "platform/file.h"
#include "quiltbench/video/decode_child.h"
#include "quiltbench/video/encoder_parameters.h"
#include "quiltbench/video/video_decode.h"
#include "quiltbench/video/video_synthesis.h"
#include "quiltbench/video/video_synthesis_internal.h"

namespace quiltbench::video {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::size_t kReadSize = 4096;
// A 4096-byte read holds at most about a thousand start codes; far more states without
// asking for data means the decoder is going round in circles on a broken stream.
constexpr int kMaxStatesPerRead = 1 << 16;
constexpr std::uint8_t kSequenceEndCode[4] = {0x00, 0x00, 0x01, 0xB7};
// A clip for a looping texture is seconds long; a file beyond this is not one.
constexpr std::size_t kMaxVideoFileBytes = std::size_t{1} << 30;
// Each new sequence without an end before it keeps the old buffers alive.
constexpr std::size_t kMaxBufferSets = 8;
// The child's own needs besides its frame buffers: the library's pictures and tables.
constexpr std::uint64_t kChildBaseAddressSpace = std::uint64_t{512} << 20;
constexpr int kChildBaseCpuSeconds = 30;
// One more second of processor time for every so many stream bytes (libmpeg2 decodes
// tens of megabytes a second).
constexpr std::size_t kStreamBytesPerCpuSecond = 256 * 1024;
constexpr int kChildSilenceSeconds = 30;
constexpr int kMaxFrames = 1 << 20;
// CIF fits every MPEG-2 level.
constexpr PictureSize kSizeEveryLevelTakes{352, 288};

// libmpeg2's own allocations in the child: zero-filled, so that what it leaves unwritten
// in its pictures never reaches a frame as uninitialised bytes, and between a read-only
// page (which keeps the mapping's size) and an inaccessible one.
void* guardedAllocation(unsigned size, mpeg2_alloc_t) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t dataPages = (static_cast<std::size_t>(size) + page - 1) / page;
  const std::size_t mapped = (dataPages + 2) * page;
  void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  auto* bytes = static_cast<std::uint8_t*>(base);
  std::memcpy(bytes, &mapped, sizeof mapped);
  mprotect(bytes, page, PROT_READ);
  mprotect(bytes + (dataPages + 1) * page, page, PROT_NONE);
  return bytes + page;
}

int releaseGuardedAllocation(void* data) {
  if (data == nullptr) return 1;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::uint8_t* base = static_cast<std::uint8_t*>(data) - page;
  std::size_t mapped = 0;
  std::memcpy(&mapped, base, sizeof mapped);
  munmap(base, mapped);
  return 1;
}

// One of our frame buffers, guarded in the same way, so that the decoder's writes beyond
// it kill the child instead of corrupting what lies next to it.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t bytes)
      : bytes_(bytes),
        data_(static_cast<std::uint8_t*>(
            guardedAllocation(static_cast<unsigned>(bytes), MPEG2_ALLOC_CONVERTED))) {
    if (data_ == nullptr) throw std::runtime_error("cannot allocate a frame buffer");
  }
  ~GuardedBuffer() { releaseGuardedAllocation(data_); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  std::uint8_t* data() { return data_; }
  // A picture never shows what an earlier one left where the decoder did not write.
  void clear() { std::memset(data_, 0, bytes_); }

 private:
  std::size_t bytes_;
  std::uint8_t* data_;
};

// The decoder keeps two reference pictures and decodes into a third.
struct BufferSet {
  struct Slot {
    std::unique_ptr<GuardedBuffer> rgb;
    bool inUse = false;
    // The decoder reached the start code after the picture's last slice (when that was
    // the end code we added, finish() judges the picture).
    bool complete = false;
  };
  std::array<Slot, 3> slots;
};

std::unique_ptr<BufferSet> allocateBufferSet(std::size_t bytes) {
  auto set = std::make_unique<BufferSet>();
  for (auto& slot : set->slots) slot.rgb = std::make_unique<GuardedBuffer>(bytes);
  return set;
}

// Hands the decoder a buffer it does not hold; false when all three are held.
bool handOverFreeBuffer(mpeg2dec_t* decoder, BufferSet& set) {
  for (auto& slot : set.slots) {
    if (slot.inUse) continue;
    slot.inUse = true;
    slot.complete = false;
    slot.rgb->clear();
    std::uint8_t* planes[3] = {slot.rgb->data(), nullptr, nullptr};
    mpeg2_set_buf(decoder, planes, &slot);
    return true;
  }
  return false;
}

struct DecoderCloser {
  void operator()(mpeg2dec_t* d) const { mpeg2_close(d); }
};

// Bytes put after a stream that stops short, before the end code we add: a last slice
// that is whole ends before them, a cut one decodes them as macroblocks.
constexpr std::array<std::uint8_t, 8> kProbeTrailer = {0xFF, 0xFF, 0xFF, 0xFF,
                                                       0xFF, 0xFF, 0xFF, 0xFF};

std::uint64_t fingerprint(const std::uint8_t* bytes, std::size_t size) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (std::size_t k = 0; k < size; ++k) hash = (hash ^ bytes[k]) * 1099511628211ull;
  return hash;
}

// Runs in the child: decodes `stream` and sends every completely decoded picture,
// cropped to the picture size, over `out`. The pictures shown after the stream stopped
// short of an end code wait for finish(), which knows whether the last one was whole.
// Without `out` it only decodes, for the last picture's fingerprint.
class ChildDecoder {
 public:
  ChildDecoder(Bytes stream, PictureSize size, FrameChannel* out, Bytes trailer = {})
      : stream_(stream), trailer_(trailer), size_(size), out_(out) {
    decoder_.reset(mpeg2_init());
    if (!decoder_) throw std::runtime_error("cannot create the MPEG decoder");
    info_ = mpeg2_info(decoder_.get());
  }

  void run() {
    std::array<std::uint8_t, kReadSize> chunk;
    std::size_t size = chunk.size();
    std::size_t read = 0;
    int statesSinceRead = 0;
    do {
      const mpeg2_state_t state = mpeg2_parse(decoder_.get());
      if (state == STATE_BUFFER) {
        size = std::min(chunk.size(), stream_.size() - read);
        std::copy_n(stream_.begin() + read, size, chunk.begin());
        read += size;
        if (size == 0 && live_ && !flushed_) {
          // A stream that stops without a sequence end code still holds its last picture
          // and the reference waiting to be shown: an end code lets them out.
          std::copy(trailer_.begin(), trailer_.end(), chunk.begin());
          std::memcpy(chunk.data() + trailer_.size(), kSequenceEndCode, sizeof kSequenceEndCode);
          size = trailer_.size() + sizeof kSequenceEndCode;
          flushed_ = true;
        }
        mpeg2_buffer(decoder_.get(), chunk.data(), chunk.data() + size);
        statesSinceRead = 0;
        continue;
      }
      if (++statesSinceRead > kMaxStatesPerRead || !handle(state)) break;
    } while (size != 0);
  }

  // The fingerprint of the picture that our added end code completed, if any.
  std::optional<std::uint64_t> lastPictureFingerprint() const { return lastFingerprint_; }
  bool mpeg2() const { return mpeg2_; }
  unsigned codedHeight() const { return codedHeight_; }

  // Sends the pictures held back, the last decoded one only when `lastWhole`, and the end.
  void finish(bool lastWhole) {
    for (const Pending& p : pending_) {
      if ((lastWhole || !p.last) && !send(p.rgb.data())) return;
    }
    out_->sendEnd(sent_);
  }

 private:
  struct Pending {
    std::vector<std::uint8_t> rgb;
    bool last;
  };

  // False when decoding has to stop here.
  bool handle(mpeg2_state_t state) {
    switch (state) {
      case STATE_SEQUENCE:
        return startSequence();
      case STATE_PICTURE:
        // A picture outside a sequence, or one more than the decoder can hold.
        return live_ && handOverFreeBuffer(decoder_.get(), *live_);
      case STATE_SLICE:
        markCurrentPictureDecoded();
        return takeDisplayedFrame();
      case STATE_END:
      case STATE_INVALID_END: {
        const bool more = takeDisplayedFrame();
        live_.reset();
        return more;
      }
      default:
        return true;
    }
  }

  bool startSequence() {
    const mpeg2_sequence_t* sequence = info_->sequence;
    if (sequence == nullptr || sequence->width == 0 || sequence->height == 0) return false;
    const int width = static_cast<int>(sequence->picture_width);
    const int height = static_cast<int>(sequence->picture_height);
    // Frames of one video share one size; a later sequence of another size ends it.
    if (announced_ && (width != size_.width || height != size_.height)) return false;
    if (sequence->picture_width > sequence->width || sequence->picture_height > sequence->height)
      return false;
    if (!announced_) {
      if (out_ != nullptr && !out_->sendSize(width, height)) return false;
      announced_ = true;
    }
    mpeg2_convert(decoder_.get(), mpeg2convert_rgb24, nullptr);
    mpeg2_custom_fbuf(decoder_.get(), 1);
    codedWidth_ = sequence->width;
    codedHeight_ = sequence->height;
    mpeg2_ = (sequence->flags & SEQ_FLAG_MPEG2) != 0;
    // A new sequence without an end before it: the decoder may still show pictures of
    // the old buffers, so they stay alive until decoding is over.
    if (live_) {
      if (retired_.size() >= kMaxBufferSets) return false;
      retired_.push_back(std::move(live_));
    }
    live_ = allocateBufferSet(codedFrameBytes());
    cropped_.resize(static_cast<std::size_t>(size_.width) * size_.height * 3);
    handOverFreeBuffer(decoder_.get(), *live_);
    handOverFreeBuffer(decoder_.get(), *live_);
    return true;
  }

  std::size_t codedFrameBytes() const {
    return static_cast<std::size_t>(codedWidth_) * codedHeight_ * 3;
  }

  // The slot behind a decoder's id, if it is one of ours that is still alive.
  BufferSet::Slot* ownSlot(const mpeg2_fbuf_t* fbuf) {
    if (fbuf == nullptr) return nullptr;
    auto find = [&](BufferSet& set) -> BufferSet::Slot* {
      for (auto& slot : set.slots) {
        if (fbuf->id == &slot) return &slot;
      }
      return nullptr;
    };
    if (live_) {
      if (BufferSet::Slot* slot = find(*live_)) return slot;
    }
    for (auto& set : retired_) {
      if (BufferSet::Slot* slot = find(*set)) return slot;
    }
    return nullptr;
  }

  void markCurrentPictureDecoded() {
    BufferSet::Slot* slot = ownSlot(info_->current_fbuf);
    if (slot == nullptr) return;
    slot->complete = true;
    if (flushed_) {
      lastSlot_ = slot;
      lastFingerprint_ = fingerprint(slot->rgb->data(), codedFrameBytes());
    }
  }

  // False when the parent has gone.
  bool takeDisplayedFrame() {
    bool parentListens = true;
    BufferSet::Slot* shown = ownSlot(info_->display_fbuf);
    if (out_ != nullptr && shown != nullptr && shown->complete && info_->sequence != nullptr &&
        info_->sequence->width == codedWidth_ && info_->sequence->height == codedHeight_) {
      crop(shown->rgb->data());
      if (flushed_) {
        pending_.push_back({cropped_, shown == lastSlot_});
      } else {
        parentListens = send(cropped_.data());
      }
    }
    if (BufferSet::Slot* discarded = ownSlot(info_->discard_fbuf)) discarded->inUse = false;
    return parentListens;
  }

  // The converter fills whole macroblocks; the picture is the top-left part of them.
  void crop(const std::uint8_t* rgb) {
    const std::size_t codedRow = static_cast<std::size_t>(codedWidth_) * 3;
    const std::size_t row = static_cast<std::size_t>(size_.width) * 3;
    for (int y = 0; y < size_.height; ++y) {
      std::memcpy(cropped_.data() + y * row, rgb + y * codedRow, row);
    }
  }

  bool send(const std::uint8_t* frame) {
    ++sent_;
    return out_->sendFrame(frame, cropped_.size());
  }

  Bytes stream_;
  Bytes trailer_;
  PictureSize size_;
  FrameChannel* out_;
  bool announced_ = false;
  bool flushed_ = false;
  bool mpeg2_ = false;
  int sent_ = 0;
  unsigned codedWidth_ = 0, codedHeight_ = 0;
  std::vector<std::uint8_t> cropped_;
  std::vector<Pending> pending_;
  const BufferSet::Slot* lastSlot_ = nullptr;
  std::optional<std::uint64_t> lastFingerprint_;
  // Declared before the decoder, so that the decoder is closed before they go.
  std::unique_ptr<BufferSet> live_;
  std::vector<std::unique_ptr<BufferSet>> retired_;
  std::unique_ptr<mpeg2dec_t, DecoderCloser> decoder_;
  const mpeg2_info_t* info_ = nullptr;
};

// The child's work. A picture completed only by our end code counts as whole when its
// slices reach every row (in MPEG-2, where a slice never spans rows) and decoding the
// stream again with other bytes before that end code gives the same picture.
void decodeInChild(Bytes stream, PictureSize size, FrameChannel& out) {
  mpeg2_malloc_hooks(guardedAllocation, releaseGuardedAllocation);
  ChildDecoder decoder(stream, size, &out);
  decoder.run();
  bool lastWhole = true;
  if (const std::optional<std::uint64_t> last = decoder.lastPictureFingerprint()) {
    lastWhole = !decoder.mpeg2() || lastPictureCoversEveryRow(stream, decoder.codedHeight());
    if (lastWhole) {
      ChildDecoder probe(stream, size, nullptr, kProbeTrailer);
      probe.run();
      lastWhole = probe.lastPictureFingerprint() == last;
    }
  }
  decoder.finish(lastWhole);
}

std::vector<std::uint8_t> readVideoFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::openStdFile(path, "rb"),
                                                       &std::fclose);
  if (!file) throw VideoSynthesisError("cannot open the video " + path);
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, 1 << 16> chunk;
  while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get())) {
    if (bytes.size() + n > kMaxVideoFileBytes) {
      throw VideoSynthesisError("the video " + path + " is larger than " +
                                std::to_string(kMaxVideoFileBytes >> 20) + " MB");
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
  }
  if (std::ferror(file.get())) throw VideoSynthesisError("cannot read the video " + path);
  return bytes;
}

// Half the machine's memory for the decoded frames: the blend and the encoder need the rest.
std::uint64_t decodedBytesLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return std::uint64_t{1} << 31;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page) / 2;
}

DecodeLimits limitsFor(Bytes stream, PictureSize size) {
  DecodeLimits limits;
  limits.width = size.width;
  limits.height = size.height;
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(size.width) * size.height * 3;
  limits.maxFrames =
      static_cast<int>(std::min<std::uint64_t>(kMaxFrames, decodedBytesLimit() / frameBytes));
  // Coded pictures are padded to whole macroblocks: three of our buffers per sequence
  // kept alive and the decoder's own pictures, a few times over.
  const std::uint64_t codedFrameBytes =
      static_cast<std::uint64_t>(size.width + 16) * (size.height + 32) * 3;
  limits.childExtraAddressSpace = kChildBaseAddressSpace + 16 * codedFrameBytes;
  limits.cpuSeconds =
      kChildBaseCpuSeconds + static_cast<int>(stream.size() / kStreamBytesPerCpuSecond);
  limits.silenceSeconds = kChildSilenceSeconds;
  return limits;
}

// What the encoder's own reader and checks say to its template instantiated for `size`,
// read from a file only this process can see; none when it takes it.
std::optional<std::string> encoderRefusal(PictureSize size) {
  namespace qe = quiltbench::encoder;
  const std::string parameters = instantiateParameterTemplate(readParameterTemplate(), size.width,
                                                              size.height, kMinimumJumpLength + 1);
  const int fd = memfd_create("quiltbench-size-check", MFD_CLOEXEC);
  if (fd < 0) throw VideoSynthesisError("cannot check the picture size against the encoder");
  const bool written =
      write(fd, parameters.data(), parameters.size()) == static_cast<ssize_t>(parameters.size());
  std::optional<std::string> refusal;
  if (written) {
    qe::EncoderParameters params;
    try {
      qe::RecoverableEncoderErrors recoverable;
      qe::read_encoder_parameters("/proc/self/fd/" + std::to_string(fd), params);
    } catch (const qe::EncoderFatalError& e) {
      refusal = e.what();
    }
  }
  close(fd);
  if (!written) throw VideoSynthesisError("cannot check the picture size against the encoder");
  return refusal;
}

}  // namespace

std::vector<std::uint8_t> videoElementaryStream(std::vector<std::uint8_t> file,
                                                const std::string& path) {
  const ContainerFormat format = containerFormat(file);
  if (format == ContainerFormat::elementaryStream) return file;
  if (format != ContainerFormat::programStream) {
    throw VideoSynthesisError(path + " is " + containerName(format) +
                              "; only MPEG video elementary streams and MPEG program streams "
                              "can be read");
  }
  DemuxResult demuxed = demuxProgramStream(file);
  if (!demuxed.error.empty()) throw VideoSynthesisError(path + ": " + demuxed.error);
  return std::move(demuxed.video);
}

void checkPictureSizeEncodable(PictureSize size) {
  const std::optional<std::string> refusal = encoderRefusal(size);
  // A template the encoder refuses whatever the size is faulty in itself; the encoder
  // reports that when it runs.
  if (!refusal || encoderRefusal(kSizeEveryLevelTakes)) return;
  throw VideoSynthesisError("pictures of " + std::to_string(size.width) + "x" +
                            std::to_string(size.height) +
                            " cannot be encoded with the encoder's profile and level: " + *refusal);
}

VideoFrames decodeVideoStream(Bytes stream, PictureSize size, const std::string& path) {
  try {
    VideoFrames video = framesFromChild(
        [&](FrameChannel& out) { decodeInChild(stream, size, out); }, limitsFor(stream, size));
    if (video.frames.empty()) video.width = video.height = 0;
    return video;
  } catch (const DecodeChildError& e) {
    throw VideoSynthesisError("cannot decode " + path + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw VideoSynthesisError("not enough memory for the decoded frames of " + path);
  }
}

VideoFrames decodeMpegVideo(const std::string& path) {
  const std::vector<std::uint8_t> stream = videoElementaryStream(readVideoFile(path), path);
  const std::optional<PictureSize> size = firstSequencePictureSize(stream);
  if (!size) throw VideoSynthesisError("no MPEG video sequence header in " + path);
  checkPictureSizeEncodable(*size);
  return decodeVideoStream(stream, *size, path);
}

}  // namespace quiltbench::video
