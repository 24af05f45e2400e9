#include "app/StartUp.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "text/LanguageLibrary.h"

namespace {

constexpr std::size_t kExaminedLength = 199;

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Birth time where the kernel and file system report one, else modification time; false when
// the file's status cannot be read at all.
bool CreationTime(const std::string& path, std::time_t* when) {
    struct statx stx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BTIME | STATX_MTIME, &stx) == 0) {
        if (stx.stx_mask & STATX_BTIME)
            *when = static_cast<std::time_t>(stx.stx_btime.tv_sec);
        else
            *when = static_cast<std::time_t>(stx.stx_mtime.tv_sec);
        return true;
    }
    if (errno != ENOSYS && errno != EPERM) return false;
    // statx is refused (an old kernel, or a sandbox that filters it): fall back to stat.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    *when = st.st_mtime;
    return true;
}

} // namespace

Switches ParseSwitches(const std::string& commandLine) {
    std::string upper = commandLine.substr(0, kExaminedLength);
    for (char& c : upper)
        c = AsciiUpper(c);
    Switches s;
    s.log = upper.find("-LOG") != std::string::npos;
    s.cal = upper.find("-CAL") != std::string::npos;
    s.testMode = upper.find("-TESTSIO") != std::string::npos;
    return s;
}

std::string CommandLineOf(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        if (!line.empty()) line += ' ';
        line += argv[i];
    }
    return line;
}

std::string BuildStamp(const std::string& programPath) {
    std::time_t when = 0;
    if (programPath.empty() || !CreationTime(programPath, &when)) return {};
    std::tm local{};
    if (!::localtime_r(&when, &local)) return {};
    char buf[64];
    std::size_t n = std::strftime(buf, sizeof buf, "%Y%m%d %H%M%S", &local);
    return std::string(buf, n);
}

std::string ProgramFolder() {
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) break;
        if (errno != ERANGE || buf.size() > 1u << 20) return {};
        buf.resize(buf.size() * 2);
    }
    std::string folder(buf.data());
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string LanguageLibraryPath(const std::string& programFolder) {
    if (programFolder.empty()) return LanguageLibrary::FILE_NAME;
    if (programFolder.back() == '/') return programFolder + LanguageLibrary::FILE_NAME;
    return programFolder + "/" + LanguageLibrary::FILE_NAME;
}

std::string RefusedLibraryText(const std::string& path, const std::string& error) {
    return "The language library '" + path + "' is there but cannot be used" +
           (error.empty() ? "" : ": " + error) +
           "\nThe program shows its own texts. Replace or remove the file to change that.";
}

std::string MissingLibraryText(const std::string& path) {
    // Put together rather than formatted: a '%' in the path is just a character.
    return "LANGUAGE DLL missing '" + path + "' !";
}
