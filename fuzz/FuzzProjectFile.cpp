// Any project file: reading never crashes or reads past a field, every text ends within its field,
// the fixed binary channels hold, and a project written back reads back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

#include "project/ProjectFile.h"

namespace {
std::string Folder() {
    static const std::string folder = [] {
        char tmpl[] = "/tmp/qln-fuzz-project-XXXXXX";
        return std::string(::mkdtemp(tmpl) ? tmpl : "/tmp");
    }();
    return folder;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Folder() + "/in.QPJ";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    auto p = std::make_unique<ProjectFile>();
    ResetProject(*p);
    std::string error;
    if (!ReadProjectFile(path, *p, &error)) std::abort();
    if (p->info.ProjectName[24] != 0 || p->info.Path[259] != 0 || p->info.Email[29] != 0) std::abort();
    if (p->scopeSetup.Binary[0] != 0 || p->scopeSetup.Binary[3] != 4) std::abort();
    (void)FieldText(p->info.Company);

    const std::string out = Folder() + "/out.QPJ";
    if (!WriteProjectFile(out, *p, &error)) std::abort();
    auto again = std::make_unique<ProjectFile>();
    ResetProject(*again);
    if (!ReadProjectFile(out, *again, &error)) std::abort();
    if (std::memcmp(again.get(), p.get(), sizeof *p) != 0) std::abort();
    return 0;
}
