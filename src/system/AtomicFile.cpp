// What the atomic writer offers on every system, above its per-system part (WriteFileAtomic).
#include "system/AtomicFile.h"
#include "system/Host.h"

bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* reason) {
    const AtomicWrite w = WriteFileAtomic(path, data, size);
    if (!w.ok && reason) *reason = SystemErrorText(w.error);
    return w.ok;
}
