// Helpers shared by the test suites: a scratch folder per test and the test data root.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Makes `dir` the working directory for the lifetime of the guard.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::filesystem::path& dir);
  ~ScopedWorkingDirectory();

 private:
  std::filesystem::path previous_;
};

// Points drive C: at a folder for the lifetime of the guard.
class ScopedDriveC {
 public:
  explicit ScopedDriveC(const std::string& folder);
  ~ScopedDriveC();

 private:
  std::optional<std::string> previous_;
};

// tests/data in the source tree (from WORKBENCH_TEST_DATA, set by CTest).
std::filesystem::path dataDir();

std::vector<unsigned char> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);

// Runs `work` in a child process whose files may grow to at most `maxFileBytes` (writes
// past it fail with EFBIG instead of raising SIGXFSZ), as on a disk that fills up part
// way; returns the child's exit status (`work`'s value), or -1 when it did not exit.
int runWithFileSizeLimit(std::uint64_t maxFileBytes, const std::function<int()>& work);

// The names in `dir` that begin with "." (the temporaries of unfinished saves).
std::vector<std::string> hiddenFiles(const std::filesystem::path& dir);

}  // namespace test_support
