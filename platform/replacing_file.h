// Writing a file so that a failed write never destroys the file it replaces: the bytes
// go to a new file in the target's folder, which takes the target's name only once it
// is complete. A write that fails or is abandoned leaves the old file untouched and no
// temporary behind.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class ReplacingFile {
 public:
  // Creates an empty temporary beside `path` (a path as the programs name it, mapped
  // through hostPath). When that fails, or the target exists and may not be written,
  // the object is not valid() and error() says why.
  explicit ReplacingFile(std::string_view path);
  // Removes the temporary unless it was committed.
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool valid() const { return !temporary_.empty(); }
  // The host path to write the new contents to (closed before commit()).
  const std::string& temporaryPath() const { return temporary_; }
  // The mapped target.
  const std::string& targetPath() const { return target_; }
  // Flushes the temporary to the disk and renames it over the target. False, with the
  // temporary removed and the target as it was, when that fails.
  bool commit();
  // Removes the temporary now; the target stays as it was.
  void abandon();
  const std::string& error() const { return error_; }

 private:
  std::string target_;
  std::string temporary_;
  std::string error_;
};

// True when the two paths (as the programs name them) name one existing file.
bool sameFile(std::string_view first, std::string_view second);

}  // namespace platform
