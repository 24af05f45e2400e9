#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// Reading files that come from outside: only regular files are read, so a device, a pipe or a
// folder planted under a file's name never hangs or confuses the program.

// The longest path the system takes; a longer one names no file.
std::size_t PathLengthLimit();

struct FileRead {
    enum Status { Ok, OpenFailed, StatFailed, Folder, NotRegular, TooLarge, ReadFailed };
    Status status = OpenFailed;
    int error = 0;    // the system's error code for OpenFailed, StatFailed and ReadFailed
    std::string data; // what was read (Ok only)
};
// Reads a regular file: refused when the system says it is larger than `refuseAbove` bytes;
// at most `readAtMost` bytes are read (a file that grows meanwhile shows as more than
// `refuseAbove`, when `readAtMost` is larger).
FileRead ReadRegularFile(const std::string& path, uint64_t refuseAbove, std::size_t readAtMost);

// What is at a path (a link counts by what it points to): whether anything, its size, and the
// system's error code when nothing (ENOENT: nothing by that name at all).
struct PathStatus {
    bool exists = false;
    int error = 0;
    uint64_t size = 0;
};
PathStatus StatPath(const std::string& path);
// Whether something exists at the path; `err` says why not.
bool PathExists(const std::string& path, int* err = nullptr);
bool IsRegularFile(const std::string& path);
// Whether the file, or the folder it would be made in, lies on a network file system (NFS, SMB),
// whose locking a database cannot rely on.
bool IsOnNetworkFileSystem(const std::string& path);
// When the file was made: its birth time where the kernel and file system report one, else its
// modification time; false when its status cannot be read.
bool FileCreationTime(const std::string& path, std::time_t* when);
// Where a symbolic link points, reading that one link and following no other: a relative target
// is taken from the link's own folder, and "." and ".." are resolved by their spelling. "" with the
// error code in *err when it cannot be read (EINVAL: `path` is no link).
std::string LinkTarget(const std::string& path, int* err = nullptr);

// A file written line by line (the trace log): created afresh, never through a symbolic link at
// its place. The handle is -1 when it could not be opened, with the error code in *err.
using LogHandle = intptr_t;
LogHandle OpenLogFile(const std::string& path, int* err);
// Appends everything; 0, or the error code of the write that failed.
int AppendLogFile(LogHandle h, const std::string& text);
void CloseLogFile(LogHandle h);
