// Framework-style file objects: open modes and sharing flags, reads and writes
// that raise FileException, Close and Abort. Paths go through hostPath().
//
// Sharing flags are honoured between the file objects of this process (the only
// ones these programs ever contend with): an open that the sharing of an already
// open object forbids fails with sharingViolation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace platform {

class FileException : public std::runtime_error {
 public:
  enum Cause { none, generic, fileNotFound, accessDenied, sharingViolation, endOfFile, diskFull };
  FileException(Cause cause, const std::string& path);
  Cause cause() const { return cause_; }
  const std::string& path() const { return path_; }

 private:
  Cause cause_;
  std::string path_;
};

class File {
 public:
  enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeBinary = 0x8000,
  };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path` (mapped); false on failure, with the cause in `error` when given.
  bool Open(const std::string& path, unsigned flags, FileException::Cause* error = nullptr);
  // Reads up to `count` bytes; returns how many were read (fewer at the end of the file).
  // Throws FileException on a read error or when the file is not open.
  std::uint32_t Read(void* buffer, std::uint32_t count);
  // Writes all `count` bytes or throws FileException.
  void Write(const void* buffer, std::uint32_t count);
  // Length of the open file in bytes; throws FileException when not open.
  std::uint64_t GetLength() const;
  // Flushes and closes; throws FileException when the flush fails.
  void Close();
  // Closes without raising anything; safe on a closed object.
  void Abort();

  bool isOpen() const { return stream_ != nullptr; }
  const std::string& path() const { return path_; }

 private:
  void releaseShare();

  std::FILE* stream_ = nullptr;
  std::string path_;
  std::string shareKey_;
  unsigned flags_ = 0;
};

// fopen on the mapped path, for code that hands standard files to a library.
std::FILE* openStdFile(const std::string& path, const char* mode);

}  // namespace platform
