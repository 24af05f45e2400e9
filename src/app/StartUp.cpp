#include "app/StartUp.h"

#include <ctime>

#include "system/Files.h"
#include "system/Host.h"
#include "text/LanguageLibrary.h"

namespace {

constexpr std::size_t kExaminedLength = 199;

constexpr const char* kHelp =
    "usage: qln [-LOG] [-CAL] [-TESTSIO]\n"
    "The desktop service tool for an electronic proportional flow-control valve on a serial port:\n"
    "read, edit and write its parameters, read its identity, history and live status, drive it\n"
    "from the PC and record its signals with the scope.\n"
    "\n"
    "Switches (found anywhere in the command line, in any case):\n"
    "  -LOG        write the trace log debug.txt in the program folder\n"
    "  -CAL        add the calibration commands to the menu\n"
    "  -TESTSIO    replace the valve by the built-in simulated valve (the title says TESTMODE)\n"
    "  --help      print this help\n"
    "  --version   print the version\n"
    "\n"
    "The program folder is the folder qln is started in (qln-desktop starts it in ~/qln). It holds\n"
    "QLN_com.ini (the serial port, [DEVICES] COM1=/dev/ttyUSB0, remembered line speeds),\n"
    "QLN_para.ini (which parameters may be changed, and the defaults of a new project), the user\n"
    "guide QLN.HLP (F1), an optional translation Lang_dll.DLL and the trace log debug.txt.\n";

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
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

std::string ProgramInfoText(int argc, const char* const* argv) {
    if (argc != 2 || !argv[1]) return {};
    const std::string arg = argv[1];
    if (arg == "--help") return kHelp;
    if (arg == "--version") return "qln " QLN_VERSION "\n";
    return {};
}

std::string BuildStamp(const std::string& programPath) {
    std::time_t when = 0;
    if (programPath.empty() || !FileCreationTime(programPath, &when)) return {};
    std::tm local{};
    if (!LocalTime(when, &local)) return {};
    char buf[64];
    std::size_t n = std::strftime(buf, sizeof buf, "%Y%m%d %H%M%S", &local);
    return std::string(buf, n);
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
