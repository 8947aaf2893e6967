// Removal of a run's own files on every way out. The signal handler may run at any point
// of the run, so it reads only what was complete before it was published: a path is
// stored before its entry counts, and an entry is marked present only once its file
// exists.
#include "quiltbench/video/temporary_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace quiltbench::video {
namespace {

constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The runs in progress, innermost first through their outer_ links.
std::atomic<CreatedFiles*> g_liveRun{nullptr};

static_assert(std::atomic<bool>::is_always_lock_free &&
                  std::atomic<std::size_t>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

sigset_t cleanedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kCleanedSignals) sigaddset(&set, sig);
  return set;
}

void removeAndDie(int sig) {
  CreatedFiles::removeLiveRunFiles();
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(sig, &standard, nullptr);
  // Delivered when the handler returns, now with the default action: the process ends
  // by this signal, as its parent expects.
  raise(sig);
}

void removeAtExit() { CreatedFiles::removeLiveRunFiles(); }

}  // namespace

SignalsHeld::SignalsHeld() {
  const sigset_t set = cleanedSignals();
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

CreatedFiles::CreatedFiles(std::size_t capacity)
    : entries_(new Entry[capacity]), capacity_(capacity), owner_(getpid()) {
  // An encoder or library that ends the process with exit() takes the files along too.
  static const bool hooked = std::atexit(removeAtExit) == 0;
  (void)hooked;
  SignalsHeld held;
  outer_ = g_liveRun.load();
  g_liveRun.store(this);
  if (outer_ != nullptr) return;
  struct sigaction action {};
  action.sa_handler = removeAndDie;
  action.sa_mask = cleanedSignals();
  for (int k = 0; k < 3; ++k) {
    sigaction(kCleanedSignals[k], nullptr, &previous_[k]);
    // nohup and the like ignore signals on purpose: such a run goes on.
    if (previous_[k].sa_handler == SIG_IGN) continue;
    installed_[k] = sigaction(kCleanedSignals[k], &action, nullptr) == 0;
  }
}

CreatedFiles::~CreatedFiles() {
  SignalsHeld held;
  removeEntries();
  g_liveRun.store(outer_);
  for (int k = 0; k < 3; ++k) {
    if (installed_[k]) sigaction(kCleanedSignals[k], &previous_[k], nullptr);
  }
}

std::size_t CreatedFiles::record(const std::string& path, bool folder) {
  const std::size_t slot = count_.load();
  Entry& entry = entries_[slot];
  entry.path = path;
  entry.folder = folder;
  entry.present.store(true);
  count_.store(slot + 1);
  return slot;
}

bool CreatedFiles::createFolders(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string prefix = path.substr(0, at);
    struct stat info {};
    if (stat(prefix.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
      }
    } else if (errno == ENOENT) {
      if (count_.load() >= capacity_) throw std::logic_error("more run files than reserved");
      SignalsHeld held;
      if (mkdir(prefix.c_str(), 0777) != 0) return false;
      record(prefix, true);
    } else {
      return false;
    }
    if (at == std::string::npos) return true;
  }
}

int CreatedFiles::createFile(const std::string& path) {
  if (count_.load() >= capacity_) throw std::logic_error("more run files than reserved");
  SignalsHeld held;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) record(path, false);
  return fd;
}

std::size_t CreatedFiles::adopt(const std::string& path) {
  if (count_.load() >= capacity_) throw std::logic_error("more run files than reserved");
  return record(path, false);
}

void CreatedFiles::forget(std::size_t slot) {
  if (slot < count_.load()) entries_[slot].present.store(false);
}

void CreatedFiles::removeAll() {
  SignalsHeld held;
  removeEntries();
}

void CreatedFiles::removeEntries() {
  // Newest first: the files go before the folders that hold them.
  for (std::size_t k = count_.load(); k-- > 0;) {
    Entry& entry = entries_[k];
    if (!entry.present.exchange(false)) continue;
    if (entry.folder) {
      rmdir(entry.path.c_str());
    } else {
      unlink(entry.path.c_str());
    }
  }
}

void CreatedFiles::removeLiveRunFiles() {
  const int saved = errno;
  for (CreatedFiles* run = g_liveRun.load(); run != nullptr; run = run->outer_) {
    // A child process forked during the run shares the records, not the files' fate.
    if (run->owner_ == getpid()) run->removeEntries();
  }
  errno = saved;
}

}  // namespace quiltbench::video
