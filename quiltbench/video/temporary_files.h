// The files and folders that one run makes for itself, and their removal however the run
// ends: on return, on an exception, at exit, and on SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

namespace quiltbench::video {

// Defers SIGINT, SIGTERM and SIGHUP for the calling thread while it lives, so that a
// file is never made without being recorded, or recorded without being made.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Records every file and folder the run made (host paths) and removes exactly those when
// it goes, files first, folders last and only while empty. While one lives, SIGINT, SIGTERM
// and SIGHUP remove them too and then end the process by the same signal (a signal that
// was ignored stays ignored). At most `capacity` paths are recorded.
class CreatedFiles {
 public:
  explicit CreatedFiles(std::size_t capacity);
  ~CreatedFiles();
  CreatedFiles(const CreatedFiles&) = delete;
  CreatedFiles& operator=(const CreatedFiles&) = delete;

  // Creates `folder` and each missing folder above it, recording those it made; a folder
  // that is already there is used as it is and never removed. False, with errno, when
  // one cannot be made or a path on the way is not a folder.
  bool createFolders(const std::string& folder);

  // Creates a new file for writing, never through a link and never over an existing
  // file. Returns its descriptor (the caller closes it), or -1 with errno.
  int createFile(const std::string& path);

  // Records a file that other code made for this run (call with SignalsHeld in force
  // from its creation); returns its slot for forget().
  std::size_t adopt(const std::string& path);
  // The file in `slot` is no longer the run's (it was renamed into place).
  void forget(std::size_t slot);

  // Removes everything recorded now, as the destructor would.
  void removeAll();

  // For the signal handler and the exit hook: removes what the live runs made, with
  // async-signal-safe calls only.
  static void removeLiveRunFiles();

 private:
  struct Entry {
    std::string path;
    bool folder = false;
    std::atomic<bool> present{false};
  };
  std::size_t record(const std::string& path, bool folder);
  void removeEntries();

  std::unique_ptr<Entry[]> entries_;
  std::size_t capacity_;
  std::atomic<std::size_t> count_{0};
  CreatedFiles* outer_ = nullptr;
  pid_t owner_;
  // The handlers this object put in place, and what was there before them.
  bool installed_[3] = {};
  struct sigaction previous_[3] = {};
};

}  // namespace quiltbench::video
