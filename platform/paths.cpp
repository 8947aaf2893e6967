#include "platform/paths.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

bool hasDrivePrefix(std::string_view p) {
  return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

std::string driveRoot(char letter) {
  std::string var = "WORKBENCH_DRIVE_";
  var += static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (const char* root = std::getenv(var.c_str()); root && *root) return root;
  std::error_code ec;
  auto cwd = fs::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

}  // namespace

std::string hostPath(std::string_view windowsPath) {
  std::string path(windowsPath);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (!hasDrivePrefix(path)) return path;
  std::string rest = path.substr(2);
  while (!rest.empty() && rest.front() == '/') rest.erase(rest.begin());
  std::string root = driveRoot(path[0]);
  if (rest.empty()) return root;
  if (!root.empty() && root.back() != '/') root += '/';
  return root + rest;
}

std::string programDirectory() {
  std::error_code ec;
  auto exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().string();
}

std::string programName() {
  std::error_code ec;
  auto exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  return exe.stem().string();
}

std::string besideProgram(std::string_view windowsPath) {
  std::string mapped = hostPath(windowsPath);
  std::error_code ec;
  if (fs::exists(mapped, ec) || fs::path(mapped).is_absolute()) return mapped;
  fs::path besideExe = fs::path(programDirectory()) / mapped;
  if (fs::exists(besideExe, ec)) return besideExe.lexically_normal().string();
  return mapped;
}

bool makeSureDirectoryPathExists(std::string_view windowsPath) {
  std::string mapped = hostPath(windowsPath);
  fs::path dir = mapped;
  if (!mapped.empty() && mapped.back() != '/') dir = dir.parent_path();
  if (dir.empty()) return true;
  std::error_code ec;
  fs::create_directories(dir, ec);
  return fs::is_directory(dir, ec);
}

bool removeTree(std::string_view windowsPath) {
  std::error_code ec;
  fs::remove_all(hostPath(windowsPath), ec);
  return !fs::exists(hostPath(windowsPath), ec);
}

bool removeFile(std::string_view windowsPath) {
  std::error_code ec;
  fs::remove(hostPath(windowsPath), ec);
  return !fs::exists(hostPath(windowsPath), ec);
}

bool pathExists(std::string_view windowsPath) {
  std::error_code ec;
  return fs::exists(hostPath(windowsPath), ec);
}

}  // namespace platform
