// The child process that decodes and the parent's checked reading of what it sends.
// Messages: 'S' width height (two 32-bit little-endian numbers), 'F' and one frame's
// bytes, 'E' and the frame count, or 'X', a length and a reason.
#include "quiltbench/video/decode_child.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace quiltbench::video {
namespace {

constexpr char kSizeTag = 'S';
constexpr char kFrameTag = 'F';
constexpr char kEndTag = 'E';
constexpr char kFailureTag = 'X';
// A reason is one short line; a longer one is a child that has lost its way.
constexpr std::uint32_t kMaxReasonBytes = 240;
// The largest picture side any MPEG-2 level allows is 1920; this leaves room while keeping
// a frame's size far from overflow.
constexpr int kMaxFrameSide = 16383;
constexpr int kPipeBytes = 1 << 20;

using Clock = std::chrono::steady_clock;

void putNumber(std::uint8_t* at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

std::uint32_t numberAt(const std::uint8_t* at) {
  std::uint32_t value = 0;
  for (int k = 0; k < 4; ++k) value |= static_cast<std::uint32_t>(at[k]) << (8 * k);
  return value;
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The child's own address space at the fork, read from the kernel's account.
std::uint64_t currentAddressSpace() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long long pages = 0;
  const int read = std::fscanf(f, "%llu", &pages);
  std::fclose(f);
  return read == 1 ? pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

void limitChild(const DecodeLimits& limits) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  // Relative to the space already mapped: a sanitizer's reserved shadow alone is far
  // beyond any absolute limit we would set.
  const rlim_t space = currentAddressSpace() + limits.childExtraAddressSpace;
  const rlimit addressSpace{space, space};
  setrlimit(RLIMIT_AS, &addressSpace);
  const rlim_t seconds = static_cast<rlim_t>(std::max(1, limits.cpuSeconds));
  const rlimit cpu{seconds, seconds + 1};
  setrlimit(RLIMIT_CPU, &cpu);
}

[[noreturn]] void runChild(const std::function<void(FrameChannel&)>& decode,
                           const DecodeLimits& limits, int readFd, int writeFd, pid_t parent) {
  // The parent's handlers clean up the parent's files; the child must simply die.
  for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGALRM}) std::signal(sig, SIG_DFL);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  ::close(readFd);
  limitChild(limits);
  FrameChannel channel(writeFd);
  try {
    decode(channel);
  } catch (const std::exception& e) {
    channel.sendFailure(e.what());
    _exit(2);
  } catch (...) {
    channel.sendFailure("the decoder failed");
    _exit(2);
  }
  _exit(0);
}

std::string signalName(int sig) {
  const char* name = sigdescr_np(sig);
  return "signal " + std::to_string(sig) + (name ? std::string(" (") + name + ")" : "");
}

// Only printable text of the child's reason reaches the user.
std::string printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  }
  return text;
}

class Child {
 public:
  Child(pid_t pid, int fd) : pid_(pid), fd_(fd) {}
  ~Child() {
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitFor(pid_);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  int fd() const { return fd_; }

  // The child's wait status once it has ended; it is killed when it has not ended within
  // `seconds`.
  int reap(int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) break;
      if (done < 0 && errno != EINTR) break;
      if (Clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        waitFor(pid_);
        status = W_EXITCODE(0, SIGKILL);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
    return status;
  }

 private:
  static void waitFor(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }

  pid_t pid_;
  int fd_;
};

// Reads the pipe with a wait limit for each stretch of silence and one for the whole run.
class PipeReader {
 public:
  PipeReader(int fd, const DecodeLimits& limits)
      : fd_(fd),
        silence_(std::chrono::seconds(std::max(1, limits.silenceSeconds))),
        deadline_(Clock::now() + std::chrono::seconds(2 * std::max(1, limits.cpuSeconds) +
                                                      std::max(1, limits.silenceSeconds))) {}

  // Fills `size` bytes; false when the pipe ends first. Throws on a time limit.
  bool read(void* data, std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (size > 0) {
      waitForData();
      const ssize_t n = ::read(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  void waitForData() {
    const auto quietUntil = std::min(Clock::now() + silence_, deadline_);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(quietUntil - Clock::now());
      if (left.count() <= 0) {
        throw DecodeChildError(Clock::now() >= deadline_
                                   ? "the decoder took too long"
                                   : "the decoder sent nothing for " +
                                         std::to_string(silence_.count()) + " s");
      }
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
      if (ready > 0) return;
      if (ready < 0 && errno != EINTR) throw DecodeChildError("cannot wait for the decoder");
    }
  }

  int fd_;
  std::chrono::seconds silence_;
  Clock::time_point deadline_;
};

// What the parent has read so far; throws at the first thing out of place.
class FrameCollector {
 public:
  explicit FrameCollector(const DecodeLimits& limits) : limits_(limits) {
    video_.width = limits.width;
    video_.height = limits.height;
  }

  // Reads messages until the end message or the end of the pipe; true after an end.
  bool collect(PipeReader& in) {
    char tag = 0;
    while (in.read(&tag, 1)) {
      switch (tag) {
        case kSizeTag:
          if (!readSize(in)) return false;
          break;
        case kFrameTag:
          if (!readFrame(in)) return false;
          break;
        case kEndTag:
          return readEnd(in);
        case kFailureTag:
          readFailure(in);
          return false;
        default:
          throw DecodeChildError("the decoder sent a message of unknown type " +
                                 std::to_string(static_cast<unsigned char>(tag)));
      }
    }
    return false;
  }

  VideoFrames take() { return std::move(video_); }
  const std::string& failure() const { return failure_; }

 private:
  bool readSize(PipeReader& in) {
    std::array<std::uint8_t, 8> bytes;
    if (!in.read(bytes.data(), bytes.size())) return false;
    if (sizeSeen_) throw DecodeChildError("the decoder announced its picture size twice");
    const std::uint32_t width = numberAt(bytes.data()), height = numberAt(bytes.data() + 4);
    if (width != static_cast<std::uint32_t>(limits_.width) ||
        height != static_cast<std::uint32_t>(limits_.height)) {
      throw DecodeChildError("the decoder's pictures are " + std::to_string(width) + "x" +
                             std::to_string(height) + ", the stream's sequence header says " +
                             std::to_string(limits_.width) + "x" + std::to_string(limits_.height));
    }
    sizeSeen_ = true;
    return true;
  }

  bool readFrame(PipeReader& in) {
    if (!sizeSeen_) throw DecodeChildError("the decoder sent a frame before its picture size");
    if (video_.count() >= limits_.maxFrames) {
      throw DecodeChildError("the video has more than " + std::to_string(limits_.maxFrames) +
                             " frames");
    }
    std::vector<std::uint8_t> frame(video_.frameBytes());
    if (!in.read(frame.data(), frame.size())) return false;
    video_.frames.push_back(std::move(frame));
    return true;
  }

  bool readEnd(PipeReader& in) {
    std::array<std::uint8_t, 4> bytes;
    if (!in.read(bytes.data(), bytes.size())) return false;
    if (numberAt(bytes.data()) != static_cast<std::uint32_t>(video_.count())) {
      throw DecodeChildError("the decoder counted " + std::to_string(numberAt(bytes.data())) +
                             " frames and sent " + std::to_string(video_.count()));
    }
    char extra = 0;
    if (in.read(&extra, 1)) throw DecodeChildError("the decoder sent bytes after its end");
    return true;
  }

  void readFailure(PipeReader& in) {
    std::array<std::uint8_t, 4> bytes;
    if (!in.read(bytes.data(), bytes.size())) return;
    const std::uint32_t length = numberAt(bytes.data());
    if (length > kMaxReasonBytes) throw DecodeChildError("the decoder sent an overlong reason");
    std::string reason(length, '\0');
    if (in.read(reason.data(), reason.size())) failure_ = printable(reason);
  }

  const DecodeLimits& limits_;
  VideoFrames video_;
  bool sizeSeen_ = false;
  std::string failure_;
};

std::string deathReason(int status, const DecodeLimits& limits) {
  if (WIFSIGNALED(status)) {
    if (WTERMSIG(status) == SIGXCPU) {
      return "the decoder used more than " + std::to_string(limits.cpuSeconds) +
             " s of processor time";
    }
    return "the decoder was stopped by " + signalName(WTERMSIG(status));
  }
  if (WIFEXITED(status)) {
    return "the decoder ended with exit status " + std::to_string(WEXITSTATUS(status));
  }
  return "the decoder ended abnormally";
}

}  // namespace

bool FrameChannel::sendBytes(const void* data, std::size_t size) {
  return writeAll(fd_, data, size);
}

bool FrameChannel::sendSize(int width, int height) {
  std::array<std::uint8_t, 9> message{static_cast<std::uint8_t>(kSizeTag)};
  putNumber(message.data() + 1, static_cast<std::uint32_t>(width));
  putNumber(message.data() + 5, static_cast<std::uint32_t>(height));
  return sendBytes(message.data(), message.size());
}

bool FrameChannel::sendFrame(const std::uint8_t* rgb, std::size_t bytes) {
  return sendBytes(&kFrameTag, 1) && sendBytes(rgb, bytes);
}

bool FrameChannel::sendEnd(int frameCount) {
  std::array<std::uint8_t, 5> message{static_cast<std::uint8_t>(kEndTag)};
  putNumber(message.data() + 1, static_cast<std::uint32_t>(frameCount));
  return sendBytes(message.data(), message.size());
}

bool FrameChannel::sendFailure(const std::string& reason) {
  const std::string text = reason.substr(0, kMaxReasonBytes);
  std::array<std::uint8_t, 5> message{static_cast<std::uint8_t>(kFailureTag)};
  putNumber(message.data() + 1, static_cast<std::uint32_t>(text.size()));
  return sendBytes(message.data(), message.size()) && sendBytes(text.data(), text.size());
}

VideoFrames framesFromChild(const std::function<void(FrameChannel&)>& decode,
                            const DecodeLimits& limits) {
  if (limits.width < 1 || limits.height < 1 || limits.width > kMaxFrameSide ||
      limits.height > kMaxFrameSide || limits.maxFrames < 0) {
    throw DecodeChildError("a picture size of " + std::to_string(limits.width) + "x" +
                           std::to_string(limits.height) + " cannot be decoded");
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw DecodeChildError("cannot make a pipe for the decoder");
  // Room for a whole frame or more, so that the two sides take turns less often; the
  // system's default stands where it refuses.
  ::fcntl(fds[1], F_SETPIPE_SZ, kPipeBytes);
  const pid_t parent = ::getpid();
  // What the parent has buffered must not be written twice by the child.
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    throw DecodeChildError("cannot start the decoder process");
  }
  if (pid == 0) runChild(decode, limits, fds[0], fds[1], parent);
  ::close(fds[1]);
  Child child(pid, fds[0]);
  PipeReader reader(child.fd(), limits);
  FrameCollector collector(limits);
  const bool ended = collector.collect(reader);
  const int status = child.reap(std::max(1, limits.silenceSeconds));
  if (!collector.failure().empty()) throw DecodeChildError(collector.failure());
  const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (ended && clean) return collector.take();
  if (!clean) throw DecodeChildError(deathReason(status, limits));
  throw DecodeChildError("the decoder stopped without finishing its frames");
}

}  // namespace quiltbench::video
