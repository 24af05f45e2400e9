// qln-print: a project file into a PDF, with the desktop program's page renderer and no window.
#include <QFileInfo>
#include <QGuiApplication>
#include <QtGlobal>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "print/PageRenderer.h"
#include "print/PrintLayout.h"
#include "project/ProjectFile.h"
#include "text/Texts.h"

namespace {
constexpr int EXIT_USAGE = 2;

const char* const USAGE = "usage: qln-print [--select all|parameters|scope] FILE.QPJ OUT.pdf\n";

const char* const HELP =
    "Prints a project file into a PDF, as the desktop program prints it, without a window.\n"
    "\n"
    "Options:\n"
    "  --select all|parameters|scope   what to print: everything (default), the parameters or the\n"
    "                                  scope view\n"
    "  -h, --help                      print this help\n"
    "  --version                       print the version\n"
    "\n"
    "Exit status: 0 when the PDF was written, 2 on a usage error or a file that cannot be read or\n"
    "written.\n";

struct Options {
    int selection = PRINT_ALL;
    std::string project, pdf;
};

struct SelectionName {
    const char* name;
    int selection;
};
constexpr SelectionName SELECTIONS[] = {
    {"all", PRINT_ALL}, {"parameters", PRINT_PARAMETERS}, {"scope", PRINT_SCOPE}};

bool ParseSelection(const std::string& name, int& selection) {
    for (const SelectionName& s : SELECTIONS)
        if (name == s.name) {
            selection = s.selection;
            return true;
        }
    return false;
}

// False with the reason in `error` for anything but the documented form.
bool Parse(const std::vector<std::string>& args, Options& o, std::string& error) {
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--select") {
            if (i + 1 >= args.size() || !ParseSelection(args[i + 1], o.selection)) {
                error = "--select takes all, parameters or scope";
                return false;
            }
            ++i;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            error = "unknown option '" + args[i] + "'";
            return false;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) {
        error = "a project file and an output file are needed";
        return false;
    }
    o.project = files[0];
    o.pdf = files[1];
    return true;
}

// Qt's notes about its own environment (no runtime folder, a font substituted) mean nothing to the
// user of a command-line tool; its errors still come through.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << "qln-print: " << message.toStdString() << "\n";
}

int Fail(const std::string& message) {
    std::cerr << "qln-print: " << message << "\n";
    return EXIT_USAGE;
}
} // namespace

int main(int argc, char** argv) {
    const std::string first = argc == 2 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        std::cout << USAGE << HELP;
        return EXIT_SUCCESS;
    }
    if (first == "--version") {
        std::cout << "qln-print " QLN_VERSION "\n";
        return EXIT_SUCCESS;
    }
    // No window is ever shown: without a platform chosen by the caller, none is needed.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QtMessages);
    QGuiApplication app(argc, argv);
    // Dates follow the user's locale; numbers always use a '.' decimal point.
    std::setlocale(LC_NUMERIC, "C");

    Options o;
    std::string error;
    if (!Parse(std::vector<std::string>(argv + 1, argv + argc), o, error)) {
        std::cerr << "qln-print: " << error << "\n" << USAGE;
        return EXIT_USAGE;
    }
    auto file = std::make_unique<ProjectFile>();
    ResetProject(*file);
    if (!ReadProjectFile(o.project, *file, &error)) return Fail("cannot read project file " + error);
    const std::string fullPath =
        QFileInfo(QString::fromStdString(o.project)).absoluteFilePath().toStdString();
    const auto project = PrintProjectFromFile(*file, fullPath);
    const TextSource texts;
    if (!WritePdf(o.pdf, *project, o.selection, texts, CurrentPrintTime(), &error))
        return Fail("cannot write " + error);
    return EXIT_SUCCESS;
}
