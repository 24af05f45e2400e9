#pragma once
#include <cstddef>
#include <string>

// The one way the program writes a file: so that it is either the old one or the new one, never
// half. A temporary file beside the target (so the rename never crosses file systems) is written,
// flushed to the disk, renamed over the target, and the folder flushed. A symbolic link at the
// path stays a link: the file it points to is replaced. An existing file keeps its mode and group;
// a file the user made read-only is refused and stays as it is; a new file gets the mode the umask
// gives. On failure the target is left as it was and the temporary file is removed.
struct AtomicWrite {
    bool ok = false;
    bool replacing = false; // the failure came when the new file was to replace the old one
    int error = 0;          // the system's error code
    std::string target;     // the file written: the path, or where its link points
};
AtomicWrite WriteFileAtomic(const std::string& path, const void* data, size_t size);

// The same, with the system's text for a failure in `reason`.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* reason);
