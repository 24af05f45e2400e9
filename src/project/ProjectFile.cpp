#include "project/ProjectFile.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "system/AtomicFile.h"
#include "system/Files.h"

namespace {
constexpr const char* UNKNOWN = "UNKNOWN";

std::string Reason(int error) {
    return std::strerror(error);
}

void StorePath(ProjectFile& p, const std::string& path) {
    SetFieldName(p.info.Path, path);
    const std::string name = FileNameOfPath(path);
    if (!name.empty()) SetFieldName(p.info.FileName, name);
}

// Zero-terminates every text field of the description, whatever the file held.
void TerminateTexts(ProjectInfo& info) {
    SetFieldText(info.ProjectName, FieldText(info.ProjectName));
    SetFieldText(info.FileName, FieldText(info.FileName));
    SetFieldText(info.Path, FieldText(info.Path));
    SetFieldText(info.Company, FieldText(info.Company));
    SetFieldText(info.Address, FieldText(info.Address));
    SetFieldText(info.City, FieldText(info.City));
    SetFieldText(info.Phone, FieldText(info.Phone));
    SetFieldText(info.Email, FieldText(info.Email));
}
} // namespace

void ResetProject(ProjectFile& p) {
    std::memset(&p, 0, sizeof p);
    p.scopeSetup = DefaultScopeSetup();
    SetFieldText(p.info.ProjectName, UNKNOWN);
    const std::string file = std::string(UNKNOWN) + "." + PROJECT_EXTENSION;
    SetFieldText(p.info.FileName, file);
    SetFieldText(p.info.Path, file);
}

std::string AdjustExtension(const std::string& name) {
    // Byte offset of the 25th character's end (UTF-8 continuation bytes belong to the character before).
    size_t cut = 0;
    for (int chars = 0; cut < name.size() && chars < 25; ++chars)
        do
            ++cut;
        while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80);
    const size_t dot = name.find('.');
    const std::string stem =
        dot != std::string::npos && dot <= cut ? name.substr(0, dot) : name.substr(0, cut);
    return stem + "." + PROJECT_EXTENSION;
}

std::string FileNameOfPath(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ProjectPathIn(const std::string& folder, const std::string& path) {
    const auto separator = [&](size_t i) { return path.size() > i && (path[i] == '/' || path[i] == '\\'); };
    // "C:\..." of the Windows build; a plain name with a colon ("a:b.QPJ") stays relative.
    const bool drive = path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    const bool absolute = separator(0) || (drive && separator(2));
    if (absolute || folder.empty() || path.empty()) return path;
    return folder + "/" + path;
}

std::string ShownFileName(const ProjectInfo& info, const std::string& realPath) {
    const std::string real = FileNameOfPath(realPath);
    const std::string stored = FieldText(info.FileName);
    if (!real.empty() && stored == Utf8ToCp1252(real).substr(0, sizeof info.FileName - 1)) return real;
    return Cp1252ToUtf8(stored);
}

float FormatVersion(const ProjectFile& p) {
    float v;
    std::memcpy(&v, &p.calibration.FormatVersion, sizeof v);
    return v;
}

bool ReadProjectFile(const std::string& path, ProjectFile& p, std::string* error) {
    const FileRead file = ReadRegularFile(path, UINT64_MAX, sizeof(ProjectFile));
    std::string refused;
    if (file.status == FileRead::Folder)
        refused = "is a folder, not a project file";
    else if (file.status == FileRead::NotRegular)
        refused = "is not a regular file (a device, a pipe or a socket)";
    else if (file.status != FileRead::Ok)
        refused = Reason(file.error);
    if (!refused.empty()) {
        if (error) *error = path + ": " + refused;
        return false;
    }
    // A copy first, so a short file keeps the caller's values past its end.
    auto image = std::make_unique<ProjectFile>(p);
    std::memcpy(image.get(), file.data.data(), file.data.size());
    TerminateTexts(image->info);
    SetFieldName(image->info.Path, path);
    ForceFixedBinaryChannels(image->scopeSetup);
    p = *image;
    return true;
}

bool WriteProjectFile(const std::string& path, ProjectFile& p, std::string* error) {
    StorePath(p, path);
    std::memcpy(&p.calibration.FormatVersion, &FORMAT_VERSION_BITS, sizeof FORMAT_VERSION_BITS);

    std::string reason;
    if (WriteFileAtomically(path, &p, sizeof p, &reason)) return true;
    if (error) *error = "The project could not be saved to " + path + ": " + reason + ".";
    return false;
}
