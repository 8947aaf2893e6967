// One mapping from the Windows paths that the programs name ("C:\result.bmp",
// "..\Mpeg2Enc\_MPEG.par", ".\MPEG_Result.mpg") onto this host's file system.
//
//  - Backslashes become slashes.
//  - A drive prefix "X:" (any letter, either case) maps to the folder named by the
//    environment variable WORKBENCH_DRIVE_X (e.g. WORKBENCH_DRIVE_C); without it,
//    to the current working directory. "C:\a\b" and "C:a\b" both become "<root>/a/b".
//  - Every other path is used as it stands (so host paths work unchanged).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The host path for a path as the programs write it.
std::string hostPath(std::string_view windowsPath);

// The folder that holds the running executable.
std::string programDirectory();
// The running executable's file name without its folder and extension ("arrowmap").
std::string programName();

// A path that the programs expect beside themselves (for example "..\Arrowmap.exe"):
// the mapped path when it exists relative to the working directory, otherwise the
// same path taken relative to the executable's folder when that exists there;
// otherwise the mapped path.
std::string besideProgram(std::string_view windowsPath);

// Creates every missing folder of `windowsPath` (mapped); a trailing file name is
// ignored unless the path ends in a separator. Returns false when that fails.
bool makeSureDirectoryPathExists(std::string_view windowsPath);

// Removes a folder and everything in it (mapped path); true when nothing remains.
bool removeTree(std::string_view windowsPath);

// Removes one file (mapped path); true when it is gone.
bool removeFile(std::string_view windowsPath);

// True when a file or folder exists at the mapped path.
bool pathExists(std::string_view windowsPath);

}  // namespace platform
