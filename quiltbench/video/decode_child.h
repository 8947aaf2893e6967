// Decoding in a child process: the decoder library writes out of bounds on hostile
// streams, so it runs in a forked child under memory and time limits and sends its frames
// back over a pipe in a small framed protocol that the parent checks message by message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "quiltbench/video/video_synthesis_internal.h"

namespace quiltbench::video {

// Why the child's frames could not be had: it died, hit a limit, went silent, or sent
// something the protocol does not allow.
class DecodeChildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DecodeLimits {
  // The size every frame must have; the child's announced size must match it.
  int width = 0;
  int height = 0;
  int maxFrames = 0;
  // Address space the child may add to what it has at the fork.
  std::uint64_t childExtraAddressSpace = 0;
  int cpuSeconds = 0;
  // Longest wait for the child's next bytes.
  int silenceSeconds = 0;
};

// The child's side of the protocol, writing to the pipe. Each call returns false once the
// parent has gone.
class FrameChannel {
 public:
  explicit FrameChannel(int fd) : fd_(fd) {}
  bool sendSize(int width, int height);
  bool sendFrame(const std::uint8_t* rgb, std::size_t bytes);
  bool sendEnd(int frameCount);
  bool sendFailure(const std::string& reason);
  // Raw bytes, for tests that play a broken child.
  bool sendBytes(const void* data, std::size_t size);

 private:
  int fd_;
};

// Runs `decode` in a child process and collects the frames it sends: first its size,
// then frames of exactly width x height x 3 bytes, then an end with the frame count,
// then a clean exit. Throws DecodeChildError with the reason on anything else; the child
// is always killed and reaped before this returns or throws. `decode` must not return
// into the caller's code, so the child ends with _exit after it.
VideoFrames framesFromChild(const std::function<void(FrameChannel&)>& decode,
                            const DecodeLimits& limits);

}  // namespace quiltbench::video
