#pragma once
#include <cstddef>
#include <string>

// Writes a whole file so that it is either the old one or the new one, never half: a temporary
// file beside the target (so the rename never crosses file systems), written, flushed to the disk
// (mode 0644), renamed over the target, and the folder flushed. On failure the target is left as it
// was, the temporary file is removed, and `reason` says why (the system's text).
bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* reason);
