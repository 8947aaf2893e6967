#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/paths.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

std::string reason(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// A new file keeps the permissions an ordinary create would give it; a replaced file
// keeps its own.
mode_t permissionsFor(const std::string& target) {
  struct stat info {};
  if (stat(target.c_str(), &info) == 0) return info.st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool flushToDisk(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string_view path) : target_(hostPath(path)) {
  std::error_code ec;
  // A link keeps pointing at the file it named: the file behind it is the one replaced.
  if (fs::is_symlink(target_, ec)) target_ = fs::weakly_canonical(target_, ec).string();
  fs::path target(target_);
  if (target_.empty() || target.filename().empty()) {
    error_ = "no file name in \"" + target_ + "\"";
    return;
  }
  if (fs::is_directory(target, ec)) {
    error_ = target_ + " is a folder";
    return;
  }
  if (fs::exists(target, ec) && access(target_.c_str(), W_OK) != 0) {
    error_ = reason("cannot write", target_);
    return;
  }
  fs::path folder = target.parent_path();
  std::string pattern =
      (folder.empty() ? fs::path(".") : folder) / ("." + target.filename().string() + ".XXXXXX");
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    error_ = reason("cannot create a file beside", target_);
    return;
  }
  fchmod(fd, permissionsFor(target_));
  close(fd);
  temporary_ = name.data();
}

ReplacingFile::~ReplacingFile() { abandon(); }

bool ReplacingFile::commit() {
  if (!valid()) return false;
  if (!flushToDisk(temporary_)) {
    error_ = reason("cannot write", temporary_);
    abandon();
    return false;
  }
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    error_ = reason("cannot replace", target_);
    abandon();
    return false;
  }
  temporary_.clear();
  return true;
}

void ReplacingFile::abandon() {
  if (temporary_.empty()) return;
  std::remove(temporary_.c_str());
  temporary_.clear();
}

bool sameFile(std::string_view first, std::string_view second) {
  std::error_code ec;
  return fs::equivalent(hostPath(first), hostPath(second), ec) && !ec;
}

}  // namespace platform
