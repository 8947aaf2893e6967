#include "platform/file.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/paths.h"

namespace platform {
namespace {

const char* causeText(FileException::Cause cause) {
  switch (cause) {
    case FileException::none:
      return "no error";
    case FileException::fileNotFound:
      return "file not found";
    case FileException::accessDenied:
      return "access denied";
    case FileException::sharingViolation:
      return "sharing violation";
    case FileException::endOfFile:
      return "end of file";
    case FileException::diskFull:
      return "disk full";
    default:
      return "file error";
  }
}

struct ShareEntry {
  unsigned access;  // modeRead, modeWrite or modeReadWrite
  unsigned share;   // one of the share* values
};

std::mutex g_shareMutex;
std::map<std::string, std::vector<ShareEntry>> g_openFiles;

bool wantsRead(unsigned access) { return access != File::modeWrite; }
bool wantsWrite(unsigned access) { return access != File::modeRead; }

// Whether an existing opener's sharing allows the new access, and the new sharing the existing
// access.
bool compatible(const ShareEntry& a, const ShareEntry& b) {
  auto allows = [](unsigned share, unsigned access) {
    switch (share) {
      case File::shareExclusive:
        return false;
      case File::shareDenyWrite:
        return !wantsWrite(access);
      case File::shareDenyRead:
        return !wantsRead(access);
      default:
        return true;
    }
  };
  return allows(a.share, b.access) && allows(b.share, a.access);
}

std::string shareKeyFor(const std::string& hostPath) {
  std::error_code ec;
  auto abs = std::filesystem::weakly_canonical(hostPath, ec);
  return ec ? hostPath : abs.string();
}

}  // namespace

FileException::FileException(Cause cause, const std::string& path)
    : std::runtime_error(std::string(causeText(cause)) + ": " + path), cause_(cause), path_(path) {}

File::~File() { Abort(); }

bool File::Open(const std::string& path, unsigned flags, FileException::Cause* error) {
  Abort();
  auto fail = [&](FileException::Cause cause) {
    if (error) *error = cause;
    return false;
  };
  const std::string mapped = hostPath(path);
  const unsigned access = flags & 0x3;
  const unsigned share = flags & 0x70;
  const std::string key = shareKeyFor(mapped);
  {
    std::lock_guard lock(g_shareMutex);
    for (const auto& other : g_openFiles[key])
      if (!compatible(other, {access, share})) return fail(FileException::sharingViolation);
  }
  const char* mode = "rb";
  if (flags & modeCreate) {
    if (flags & modeNoTruncate) {
      std::FILE* touch = std::fopen(mapped.c_str(), "ab");
      if (touch) std::fclose(touch);
      mode = access == modeRead ? "rb" : "r+b";
    } else {
      mode = access == modeRead ? "w+b" : (access == modeWrite ? "wb" : "w+b");
    }
  } else if (access != modeRead) {
    mode = "r+b";
  }
  stream_ = std::fopen(mapped.c_str(), mode);
  if (!stream_) {
    std::error_code ec;
    return fail(std::filesystem::exists(mapped, ec) ? FileException::accessDenied
                                                    : FileException::fileNotFound);
  }
  path_ = path;
  flags_ = flags;
  shareKey_ = key;
  std::lock_guard lock(g_shareMutex);
  g_openFiles[key].push_back({access, share});
  if (error) *error = FileException::none;
  return true;
}

std::uint32_t File::Read(void* buffer, std::uint32_t count) {
  if (!stream_) throw FileException(FileException::generic, path_);
  std::size_t got = std::fread(buffer, 1, count, stream_);
  if (got < count && std::ferror(stream_)) throw FileException(FileException::generic, path_);
  return static_cast<std::uint32_t>(got);
}

void File::Write(const void* buffer, std::uint32_t count) {
  if (!stream_) throw FileException(FileException::generic, path_);
  if (std::fwrite(buffer, 1, count, stream_) != count)
    throw FileException(FileException::diskFull, path_);
}

std::uint64_t File::GetLength() const {
  if (!stream_) throw FileException(FileException::generic, path_);
  long here = std::ftell(stream_);
  std::fseek(stream_, 0, SEEK_END);
  long end = std::ftell(stream_);
  std::fseek(stream_, here, SEEK_SET);
  if (here < 0 || end < 0) throw FileException(FileException::generic, path_);
  return static_cast<std::uint64_t>(end);
}

void File::Close() {
  if (!stream_) return;
  int rc = std::fclose(stream_);
  stream_ = nullptr;
  releaseShare();
  if (rc != 0) throw FileException(FileException::diskFull, path_);
}

void File::Abort() {
  if (!stream_) return;
  std::fclose(stream_);
  stream_ = nullptr;
  releaseShare();
}

void File::releaseShare() {
  std::lock_guard lock(g_shareMutex);
  auto it = g_openFiles.find(shareKey_);
  if (it == g_openFiles.end()) return;
  const unsigned access = flags_ & 0x3, share = flags_ & 0x70;
  auto& list = it->second;
  for (auto e = list.begin(); e != list.end(); ++e) {
    if (e->access == access && e->share == share) {
      list.erase(e);
      break;
    }
  }
  if (list.empty()) g_openFiles.erase(it);
}

std::FILE* openStdFile(const std::string& path, const char* mode) {
  return std::fopen(hostPath(path).c_str(), mode);
}

}  // namespace platform
