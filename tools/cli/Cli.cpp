#include "Cli.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <memory>
#include <sstream>

#include "AnalyzeCommand.h"
#include "CalibrationCommand.h"
#include "CliRun.h"
#include "HistoryCommands.h"
#include "JobHistory.h"
#include "ParamsCommands.h"
#include "PortsCommand.h"
#include "RecordCommand.h"
#include "SetpointTestAutotuneCommands.h"
#include "ShowCommand.h"
#include "history/HistoryText.h"
#include "settings/ComSettings.h"

namespace {
// The argument after a command that names a project file.
enum class FileArg { None, Optional, Required };

// What --time means to a command. It is checked as a test time for the commands it means
// nothing to, as it always was.
enum class TimeUse { Checked, Record, TestFunction, Refused };

using WordParser = std::string (*)(const std::string&, Options&);
using ArgsCheck = std::string (*)(const Options&);

// One command: its place in the usage text, its arguments and how it runs.
struct CommandRow {
    const char* name;
    const char* summary;
    CommandHandler run;
    FileArg file = FileArg::None;
    ProjectNeeds project = ProjectNeeds::Anything;
    // The argument before FILE: its name in the usage text, what it is, and what makes of it.
    const char* word = nullptr;
    const char* wordHelp = nullptr;
    WordParser parseWord = nullptr;
    // The usage errors when a required argument is missing, and when there are too many.
    const char* missing = nullptr;
    const char* surplus = "too many arguments";
    // Calibration mode: only with --cal, as the desktop program offers calibration only with -CAL.
    bool cal = false;
    // --yes: the caution has been read.
    bool yes = false;
    TimeUse time = TimeUse::Checked;
    // What the arguments allow together; "" or the usage error.
    ArgsCheck check = nullptr;
    // More than the summary, for the command's own help.
    const char* details = nullptr;
    // The history's words (show ID, diff ID X, take ID FILE) and --valve SERIAL.
    bool historyWords = false;
};

const CommandRow COMMANDS[] = {
    {.name = "info", .summary = "read the valve information", .run = RunInfo},
    {.name = "status", .summary = "read the valve status and LEDs", .run = RunStatus},
    {.name = "read-params",
     .summary = "read all parameters; with FILE also keep them as the project's edited set",
     .run = RunReadParams,
     .file = FileArg::Optional,
     .project = ProjectNeeds::NewIfMissing,
     .details = "An existing project keeps every other record; a missing FILE becomes a new project named "
                "after it."},
    {.name = "write-params",
     .summary = "write the working parameters stored in project FILE (.QPJ)",
     .run = RunWriteParams,
     .file = FileArg::Required,
     .project = ProjectNeeds::Parameters,
     .missing = "write-params needs exactly one project file",
     .details = "Each number is rounded to what the valve can hold, as the parameter editor does. Values "
                "outside their ranges are refused before anything is sent (--force writes them anyway)."},
    {.name = "diff",
     .summary = "list the parameters in which the valve differs from project FILE",
     .run = RunDiff,
     .file = FileArg::Required,
     .project = ProjectNeeds::Parameters,
     .missing = "diff needs exactly one project file",
     .details = "Exit status 1 when some differ."},
    {.name = "show",
     .summary = "print project FILE without touching a valve (the parameters as they would be written)",
     .run = RunShow,
     .file = FileArg::Required,
     .missing = "show needs exactly one project file"},
    {.name = "factory", .summary = "switch the valve to its factory parameter set", .run = RunFactorySet},
    {.name = "custom", .summary = "switch the valve to its custom parameter set", .run = RunCustomSet},
    {.name = "record",
     .summary = "record the scope (qln-cli record --help for its options)",
     .run = RunRecord,
     .file = FileArg::Optional,
     .project = ProjectNeeds::NewIfMissing,
     .time = TimeUse::Record,
     .details =
         "--time S is the acquisition time, 4 to 20 s. The set-up is FILE's (or the defaults) with the "
         "options over it, and FILE keeps the set-up and the recording. A set-up mode that is none of "
         "step, ramp and roll is refused unless --mode chooses one. Ctrl+C stops a recording "
         "(twice: hard stop)."},
    {.name = "analyze",
     .summary = "print the step figures of the recording in FILE (a project, or a CSV as record --csv writes "
                "it)",
     .run = RunAnalyze,
     .file = FileArg::Required,
     .project = ProjectNeeds::OwnReading,
     .missing = "analyze needs exactly one project or CSV file",
     .details = "Dead time, T63, T86, T98, rise time, overshoot, settling time, travel gain and deviation of "
                "every setpoint step (channel 1 the setpoint, channel 2 the flow). Exit status 0 also when "
                "there is no step; 2 for a file that is neither a project nor such a CSV."},
    {.name = "setpoint",
     .summary = "make the valve follow PCT % sent from the PC, or (off) its own source",
     .run = RunSetpoint,
     .word = "PCT|off",
     .wordHelp = "a percentage from 0 to 100, cut to 0.5 % steps, or off",
     .parseWord = ParseSetpoint,
     .missing = "setpoint needs a percentage from 0 to 100, or off",
     .surplus = "setpoint needs a percentage from 0 to 100, or off",
     .time = TimeUse::Refused,
     .details = "The valve keeps following the PC's setpoint after the run, until 'setpoint off'."},
    {.name = "test-function",
     .summary = "read which test function the valve runs, or write one and its time",
     .run = RunTestFunction,
     .file = FileArg::Optional,
     .project = ProjectNeeds::Parameters,
     .word = "off|ramp|step|multistep",
     .wordHelp = "off, ramp, step or multistep",
     .parseWord = ParseTestFunction,
     .time = TimeUse::TestFunction,
     .details = "--time S is the ramp or step time, 0 to 20 s (default 1.0). The controller settings that go "
                "with it are always the valve's own, read just before (nothing is written when they cannot "
                "be read), as the desktop program's Test Function writes them; FILE changes none of them."},
    {.name = "autotune",
     .summary = "start the valve's auto-tune (without --yes: show the caution, start nothing)",
     .run = RunAutotune,
     .surplus = "autotune takes no argument",
     .yes = true,
     .time = TimeUse::Refused},
    {.name = "ports",
     .summary = "list the serial devices a valve can be plugged into (opens none of them)",
     .run = RunPorts,
     .surplus = "ports takes no argument",
     .details = "Each with its node, its /dev/serial/by-id name, its driver, the adapter's USB identity and "
                "whether you may open it. Ports without a UART behind them are left out unless QLN_com.ini "
                "[DEVICES] or --device names them. Exit status 0, also when none is found."},
    {.name = "history",
     .summary = "list the valve history, newest first; show, diff or take an entry's set",
     .run = RunHistory,
     .check = CheckHistoryArgs,
     .details =
         "history [--valve SERIAL]: the entries (of one valve). history show ID: the entry's parameters "
         "as read-params prints them. history diff ID (ID2 | FILE.QPJ): the parameters that differ "
         "(exit status 1 when some do). history take ID FILE.QPJ: the entry's set becomes the "
         "project's edited set (a missing FILE becomes a new project). history setup URL [--print]: lays "
         "the history into a PostgreSQL database, with its roles, or migrates an older one (run by the "
         "database's owner). history verify [--anchor ID:HASH]: checks the entries' chain (exit status 12 "
         "when it is broken). history outbox [--release UID|all]: what waits in this folder's outbox, and "
         "what is kept back with the reason.",
     .historyWords = true},
    {.name = "read-matrix",
     .summary = "read the calibration matrix, spans, offsets and outside temperature",
     .run = RunReadMatrix,
     .file = FileArg::Optional,
     .project = ProjectNeeds::NewIfMissing,
     .cal = true,
     .details = "With FILE also keep them as the project's read-back values (a missing FILE becomes a new "
                "project)."},
    {.name = "write-matrix",
     .summary = "write the matrix and the set values of project FILE to the valve",
     .run = RunWriteMatrix,
     .file = FileArg::Required,
     .project = ProjectNeeds::Calibration,
     .missing = "write-matrix needs exactly one project file",
     .cal = true,
     .details = "A project whose calibration does not allow writing (write-enable byte 0) is refused, as "
                "the calibration dialog refuses it (--force writes it anyway)."},
    {.name = "calibration",
     .summary = "start, check or stop the factory calibration",
     .run = RunCalibration,
     .file = FileArg::Optional,
     .project = ProjectNeeds::Calibration,
     .word = "start|check|stop",
     .wordHelp = "start, check or stop",
     .parseWord = ParseCalibrationStep,
     .missing = "calibration needs start, check or stop",
     .cal = true,
     .check = CheckCalibrationArgs,
     .details = "start takes FILE's start mode and outside temperature; check and stop print the result's "
                "stage."},
};

std::optional<int> ParseCom(const std::string& s) {
    for (int i = 0; i < 8; ++i)
        if (s == ComName(i)) return i;
    return std::nullopt;
}

std::optional<int32_t> ParseBaud(const std::string& s) {
    if (s == "19200") return 2;
    if (s == "57600") return 3;
    return std::nullopt;
}

// The command list shows each command with its arguments, as the usage line of its own help does.
class UsageFormatter : public CLI::Formatter {
public:
    std::string make_subcommand(const CLI::App* sub) const override {
        std::string name = sub->get_display_name();
        for (const CLI::Option* a :
             sub->get_options([](const CLI::Option* o) { return o->get_positional(); }))
            name += " " + make_option_usage(a);
        std::stringstream out;
        CLI::detail::format_help(out, name, sub->get_description(), column_width_);
        return out.str();
    }
};

bool LooksLikeOption(const std::string& a) {
    return a.size() > 1 && a[0] == '-' && !ParseNumber(a);
}

// The command line as CLI11 reads it: the global options on the program, each command a
// subcommand that passes the options it does not know on to the program, so that global options
// stand before or after the command. Every value is checked where it stands; of an option given
// twice the last value counts.
class CommandLine {
public:
    explicit CommandLine(Options& o)
        : o_(o), app_("qln-cli: a flow-control valve's service tool", "qln-cli") {
        auto formatter = std::make_shared<UsageFormatter>();
        formatter->label("Usage", "usage");
        formatter->label("SUBCOMMAND", "COMMAND");
        formatter->label("Positionals", "arguments");
        formatter->label("REQUIRED", "");
        formatter->column_width(36);
        app_.formatter(formatter);
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->group("options");
        app_.set_help_flag("-h,--help", "print this help (a command's own with the command)");
        app_.set_version_flag("--version", "qln-cli " QLN_VERSION, "print the version");
        // What nobody takes is refused after parsing, with the command in view.
        app_.allow_extras();
        app_.require_subcommand(1);
        AddGlobalOptions();
        for (const CommandRow& row : COMMANDS)
            AddCommand(row);
    }

    // Returns the usage error, or "".
    std::string Parse(const std::vector<std::string>& args) {
        bool missingArgument = false;
        try {
            std::vector<std::string> reversed(args.rbegin(), args.rend());
            app_.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            helpAsked_ = true;
            return "";
        } catch (const CLI::CallForVersion&) {
            versionAsked_ = true;
            return "";
        } catch (const CLI::RequiredError&) {
            // Said after what the rest of the line may have got wrong, as it needs the command.
            missingArgument = true;
        } catch (const CLI::ValidationError& e) {
            return problem_.empty() ? e.what() : problem_;
        } catch (const CLI::ArgumentMismatch& e) {
            // An option at the end of the line without its value.
            return !args.empty() && LooksLikeOption(args.back()) ? args.back() + " needs a value" : e.what();
        } catch (const CLI::ParseError& e) {
            return e.what();
        }
        const std::string error = Check();
        if (!error.empty() || !missingArgument) return error;
        return row_ && row_->missing ? row_->missing : "a required argument is missing";
    }

    bool HelpAsked() const { return helpAsked_; }
    bool VersionAsked() const { return versionAsked_; }
    const CommandRow* Row() const { return row_; }
    // The usage text: the program's, or the command's once the command is known.
    std::string Help() const { return app_.help(); }

private:
    // A check by one of the commands' own parsers, on a copy of the options: only the value that
    // counts reaches them, and the message is the parser's own.
    CLI::Validator Checked(std::function<std::string(const std::string&)> parse) {
        return CLI::Validator(
            [this, parse](std::string& value) {
                problem_ = parse(value);
                return problem_;
            },
            "");
    }

    void AddGlobalOptions() {
        app_.add_flag("--test-mode", o_.testMode, "use the built-in simulated valve");
        app_.add_option("--port", "use COMn as mapped in QLN_com.ini of the current folder")
            ->type_name("COM1..COM8")
            ->check(Checked([](const std::string& v) {
                return ParseCom(v) ? "" : "unknown port '" + v + "': use COM1 to COM8";
            }))
            ->each([this](const std::string& v) { o_.port = ParseCom(v); });
        app_.add_option("--device", "use this serial device")
            ->type_name("PATH")
            ->each([this](const std::string& v) { o_.device = v; });
        app_.add_option("--baud", "the valve's line speed: only this speed is tried")
            ->type_name("19200|57600")
            ->check(Checked([](const std::string& v) {
                return ParseBaud(v) ? "" : "unknown line speed '" + v + "': use 19200 or 57600";
            }))
            ->each([this](const std::string& v) { o_.baudIndex = *ParseBaud(v); });
        app_.add_flag("--trace", o_.trace, "write the trace log debug.txt in the current folder");
        app_.add_flag("--json", o_.json, "print one JSON object");
        app_.add_flag("--force", o_.force,
                      "write-params: write values outside their ranges too; write-matrix: write a "
                      "calibration that does not allow writing");
        // Its meaning depends on the command, which may come later on the line.
        app_.add_option("--time",
                        "test-function: the ramp or step time, 0 to 20 s (default 1.0); record: 4 to 20 s")
            ->type_name("S")
            ->check(Checked([this](const std::string& v) {
                Options scratch;
                return Selected() && Selected()->time == TimeUse::Record ? ParseRecordTime(v, scratch.record)
                                                                         : ParseTestTime(v, scratch);
            }))
            ->each([this](const std::string& v) { time_ = v; });
        app_.add_flag("--yes", o_.yes, "autotune: the caution has been read; start it");
        app_.add_flag("--cal", o_.cal, "calibration mode: allows the calibration commands");
        app_.add_option("--history",
                        "the valve history: a postgresql:// URI, sqlite:PATH or off (default: [HISTORY] "
                        "DATABASE of QLN_com.ini, else QLN_history.db here; none in test mode)")
            ->type_name("URL|sqlite:PATH|off")
            ->check(Checked([](const std::string& v) {
                std::string why;
                if (!HistoryAvailable() && v != "off")
                    return "--history " + MaskHistoryTarget(v) + ": " + NoHistoryHere();
                // The error names the value, masked.
                return ParseHistoryTarget(v, &why) ? std::string() : "--history: " + why;
            }))
            ->each([this](const std::string& v) { o_.history = v; });
    }

    void AddCommand(const CommandRow& row) {
        CLI::App* sub = app_.add_subcommand(row.name, row.summary);
        sub->fallthrough();
        sub->set_help_flag("-h,--help", "print this help");
        sub->group(row.cal ? "calibration mode (only with --cal)" : "commands");
        sub->footer(std::string(row.details ? row.details : "") + (row.details ? "\n" : "") +
                    "The options of qln-cli --help stand before or after the command.");
        commands_.emplace_back(sub, &row);
        if (row.word) {
            const WordParser parse = row.parseWord;
            CLI::Option* word = sub->add_option(row.word, row.wordHelp)->type_name("");
            word->check(Checked([parse](const std::string& v) {
                    Options scratch;
                    return parse(v, scratch);
                }))
                ->each([this, parse](const std::string& v) { parse(v, o_); });
            if (row.missing) word->required();
        }
        if (row.file != FileArg::None) {
            const char* what = row.project == ProjectNeeds::OwnReading
                                   ? "a project file (.QPJ) or a recording's CSV"
                                   : "a project file (.QPJ)";
            CLI::Option* file = sub->add_option("FILE", o_.file, what)->type_name("");
            if (row.file == FileArg::Required) file->required();
        }
        if (row.historyWords) {
            sub->add_option(
                   "WORDS", o_.historyWords,
                   "show ID | diff ID (ID2 | FILE.QPJ) | take ID FILE.QPJ | setup URL | verify | outbox")
                ->type_name("");
            sub->add_option("--valve", "only the entries of the valve with this serial number")
                ->type_name("SERIAL")
                ->each([this](const std::string& v) { o_.historyValve = v; });
            sub->add_flag("--print", o_.historyPrint, "setup: write the set-up's SQL instead of running it");
            sub->add_option("--anchor", "verify: a head an earlier verify printed, which must still hold")
                ->type_name("ID:HASH")
                ->each([this](const std::string& v) { o_.historyAnchor = v; });
            sub->add_option("--release", "outbox: let a quarantined entry (or all) be delivered again")
                ->type_name("UID|all")
                ->each([this](const std::string& v) { o_.historyRelease = v; });
        }
        if (row.time == TimeUse::Record) {
            for (const RecordOptionRow& r : RECORD_OPTIONS) {
                const std::string name = r.name;
                sub->add_option(r.name, r.help)
                    ->type_name(r.value)
                    ->check(Checked([name](const std::string& v) {
                        RecordOptions scratch;
                        return ParseRecordOption(name, v, scratch);
                    }))
                    ->each([this, name](const std::string& v) { ParseRecordOption(name, v, o_.record); });
            }
        }
    }

    // The command given, once CLI11 has met it.
    const CommandRow* Selected() const {
        for (const auto& [sub, row] : commands_)
            if (sub->parsed()) return row;
        return nullptr;
    }

    // What the line says as a whole.
    std::string Check() {
        row_ = Selected();
        for (const std::string& extra : app_.remaining(true)) {
            if (!LooksLikeOption(extra)) return row_ ? row_->surplus : "unknown command '" + extra + "'";
            for (const auto& [sub, row] : commands_)
                if (sub->get_option_no_throw(extra))
                    return extra + (row == row_ ? " is an option of " + std::string(row->name) +
                                                      ": give it after the command"
                                                : " belongs to the " + std::string(row->name) + " command");
            return "unknown option '" + extra + "'";
        }
        if (app_.count("--test-mode") + app_.count("--port") + app_.count("--device") > 1)
            return "use only one of --test-mode, --port and --device";
        if (!row_) return "no command given";
        const CommandRow& row = *row_;
        o_.command = row.name;
        if (o_.yes && !row.yes) return "--yes belongs to autotune";
        if (row.cal && !o_.cal) return o_.command + " is a calibration command: it needs --cal";
        if (!row.cal && o_.cal) return "--cal belongs to the calibration commands";
        if (time_) {
            const bool refused =
                row.time == TimeUse::Refused || (row.time == TimeUse::TestFunction && !o_.testFunction);
            if (refused) return "--time belongs to test-function with a function to write";
            if (row.time == TimeUse::Record)
                ParseRecordTime(*time_, o_.record);
            else
                ParseTestTime(*time_, o_);
        }
        return row.check ? row.check(o_) : "";
    }

    Options& o_;
    CLI::App app_;
    std::vector<std::pair<CLI::App*, const CommandRow*>> commands_;
    std::optional<std::string> time_;
    // The message of the last check that refused a value.
    std::string problem_;
    const CommandRow* row_ = nullptr;
    bool helpAsked_ = false;
    bool versionAsked_ = false;
};
} // namespace

int RunCli(const std::vector<std::string>& args, IClock& clock, std::ostream& out, std::ostream& err,
           CliInterrupt* interrupt) {
    Options o;
    CommandLine line(o);
    const std::string usageError = line.Parse(args);
    if (line.HelpAsked()) {
        out << line.Help();
        return 0;
    }
    if (line.VersionAsked()) {
        out << "qln-cli " QLN_VERSION "\n";
        return 0;
    }
    if (!usageError.empty()) {
        err << "qln-cli: " << usageError << "\n" << line.Help();
        return EXIT_USAGE;
    }
    const CommandRow& row = *line.Row();
    auto project = std::make_unique<ProjectFile>();
    if (!o.file.empty() && row.project != ProjectNeeds::OwnReading) {
        const std::string error = LoadProject(o.file, row.project, *project);
        if (!error.empty()) {
            err << "qln-cli: " << error << "\n";
            return EXIT_USAGE;
        }
    }
    CommandContext c{o, *project, clock, out, err, interrupt};
    const int status = row.run(c);
    return status == 0 && c.historyLost ? EXIT_HISTORY : status;
}
