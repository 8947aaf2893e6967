// Starts a program without arguments again and again and measures the time from the start
// until a window with the expected title is mapped on the display; prints every run and the
// median. Usage: window_start_bench [PROGRAM [RUNS [TITLE]]] (default: quiltbench, 20 runs,
// "Quiltbench").
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool isShownWindow(Display* display, Window w, const std::string& title) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, w, &attributes) || attributes.map_state != IsViewable)
    return false;
  char* name = nullptr;
  const bool match = XFetchName(display, w, &name) && name && title == name;
  if (name) XFree(name);
  return match;
}

// Top-level windows, and their children for a window manager's frames.
bool findShown(Display* display, Window parent, const std::string& title, int depth) {
  Window root = 0, up = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, parent, &root, &up, &children, &count)) return false;
  bool found = false;
  for (unsigned k = 0; k < count && !found; ++k)
    found = isShownWindow(display, children[k], title) ||
            (depth > 0 && findShown(display, children[k], title, depth - 1));
  if (children) XFree(children);
  return found;
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }  // windows come and go while we look

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argc > 1 ? argv[1] : QUILTBENCH;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const std::string title = argc > 3 ? argv[3] : "Quiltbench";
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "window_start_bench: no display (run it under tools/with-display)\n");
    return 2;
  }
  XSetErrorHandler(ignoreErrors);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    bool shown = false;
    while (!shown && Clock::now() - start < std::chrono::seconds(10)) {
      shown = findShown(display, DefaultRootWindow(display), title, 1);
      if (!shown) usleep(500);
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    if (!shown) {
      std::fprintf(stderr, "window_start_bench: no window \"%s\" within 10 s\n", title.c_str());
      return 1;
    }
    times.push_back(ms);
    std::printf("run %2d: %.1f ms\n", run + 1, ms);
  }
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  std::printf("median of %d runs: %.1f ms (min %.1f, max %.1f)\n", runs, sorted[sorted.size() / 2],
              sorted.front(), sorted.back());
  XCloseDisplay(display);
  return 0;
}
