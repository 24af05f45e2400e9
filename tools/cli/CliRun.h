#pragma once
// What every qln-cli command shares: the parsed options, the project file named on the command
// line, one run of the engine against the valve, and the JSON output.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CalibrationCommand.h"
#include "Cli.h"
#include "JobHistory.h"
#include "RecordCommand.h"
#include "engine/EngineThreads.h"
#include "engine/Notifier.h"
#include "engine/QlnState.h"
#include "project/ProjectFile.h"

constexpr int EXIT_DIFFERENT = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_PROJECT_NOT_SAVED = 9;
constexpr int EXIT_WRITE_INCOMPLETE = 10;
// A run stopped by a signal before anything was changed ends as the shell expects: 128 + signal.
constexpr int EXIT_SIGNAL_BASE = 128;

// Everything the command line said.
struct Options {
    bool testMode = false;
    bool trace = false;
    bool json = false;
    bool force = false;
    std::optional<int> port;
    std::optional<std::string> device;
    int32_t baudIndex = 0; // 0: found by the baud-rate test
    std::string command;
    std::string file;
    RecordOptions record;
    // setpoint: the percentage, cut to 0.5 % steps; nullopt for off.
    std::optional<double> setpoint;
    // test-function: the function to write; nullopt reads back which one runs.
    std::optional<int32_t> testFunction;
    std::optional<double> testTime;
    bool yes = false;
    bool cal = false;
    CalibrationStep calibrationStep = CalibrationStep::None;
    // --history: off, sqlite:PATH or a postgresql:// URI; nullopt: the settings or the default.
    std::optional<std::string> history;
    // The history command: its words (show ID, diff ID X, take ID FILE) and --valve.
    std::vector<std::string> historyWords;
    std::optional<std::string> historyValve;
    bool historyPrint = false;                 // history setup --print
    std::optional<std::string> historyAnchor;  // history verify --anchor ID:HASH
    std::optional<std::string> historyRelease; // history outbox --release UID|all
};

// A whole argument as a finite number, or nothing.
std::optional<double> ParseNumber(const std::string& text);

// What a command needs of its project file beyond being one.
enum class ProjectNeeds {
    Anything,
    NewIfMissing, // a missing file is a new project, named after the file as New Project names it
    Parameters,   // the file must reach as far as the working parameter set
    Calibration,  // ... as far as the calibration record
    OwnReading,   // the command reads FILE itself (it need not be a project)
};

// One command's run: its options and project, where it prints, and who may call it off.
struct CommandContext {
    const Options& o;
    ProjectFile& project;
    IClock& clock;
    std::ostream& out;
    std::ostream& err;
    CliInterrupt* interrupt;
    // An entry that neither the history nor the outbox took: the run ends with EXIT_HISTORY.
    bool historyLost = false;
};
using CommandHandler = int (*)(CommandContext&);

// The project named on the command line, checked for what the command needs. Returns "" or why
// it cannot be used.
std::string LoadProject(const std::string& path, ProjectNeeds needs, ProjectFile& project);

// The project file named on the line as the window keeps an opened one: its real UTF-8 path, in the
// current folder when it names none.
std::string RealProjectPath(const std::string& path);

// Saves the project to the path given (with the project extension for a new project). Returns 0, or
// EXIT_PROJECT_NOT_SAVED after saying why on `err`.
int SaveProject(const std::string& path, ProjectFile& project, std::ostream& err);

// Whether `err` is the process's stderr and that is a terminal (where progress may be drawn).
bool IsTerminal(const std::ostream& err);

// Collects the engine's notifications; the CLI handles each at once, so Send never blocks.
class CliNotifier : public INotifier {
public:
    void Post(uint32_t code, intptr_t value) override { Push(code, value); }
    void Send(uint32_t code, intptr_t value) override { Push(code, value); }
    void ShowMessage(const std::string& text, const std::string& caption) override;

    // Waits for `wanted` or an error code. Returns the code, or 0 when the engine went idle
    // without telling anything.
    uint32_t Wait(uint32_t wanted, const QlnState& s);
    // The next notification, or 0 when the engine went idle without telling anything.
    uint32_t Next(const QlnState& s);

    std::vector<std::string> TakeMessages();
    // The value that came with the last notification of this code.
    intptr_t ValueOf(uint32_t code);

private:
    void Push(uint32_t code, intptr_t value);
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<uint32_t> codes_;
    std::map<uint32_t, intptr_t> values_;
    std::vector<std::string> messages_;
};

// One run of the engine against the valve the options name. Constructing it warns about the port
// settings and opens the trace; nothing is sent before Start.
class ValveRun {
public:
    explicit ValveRun(CommandContext& c);
    ~ValveRun();
    ValveRun(const ValveRun&) = delete;
    ValveRun& operator=(const ValveRun&) = delete;

    QlnState& State() { return *state_; }
    CliNotifier& Notifier() { return notifier_; }

    // Starts the engine threads. `onSignal` is what a signal does to the running request;
    // without one the request is called off before its next telegram.
    void Start(CliInterrupt::Handler onSignal = {});
    // Starts a job the history records as `action` (nullptr: one it does not record, as Start).
    // The history is opened first: one that must be refused ends the job before anything is sent.
    // With the history on, the valve's identity is read once for all the job's entries, first
    // thing in the job's first Request.
    // Returns -1, or the exit status that ended the job (said on stderr, and recorded).
    int Begin(const char* action, CliInterrupt::Handler onSignal = {});
    // Records the step done so far as completed, with what it read; the job goes on as `next`.
    void CompleteStep(const char* next);
    bool HistoryEnabled() const { return history_.Enabled(); }
    // Requests `bits` and waits for `wanted`; returns the code that ended the wait.
    uint32_t Request(uint32_t bits, uint32_t wanted);
    // Stops the engine and passes on what it said. Returns -1 when `code` is the `wanted` one,
    // else the exit status of the failure, which it has explained on stderr. A parameter write
    // that had begun ends with its own status, whatever stopped it.
    // A job begun with an action records its entry here: ok, incomplete (a signal, or a write that
    // had begun, with the count confirmed) or failed with the report.
    int End(uint32_t code, uint32_t wanted, bool parameterWrite = false);

private:
    int ReportFailure(uint32_t code, bool parameterWrite, std::ostream& err) const;
    void RecordEnd(uint32_t code, uint32_t wanted, bool parameterWrite, const std::string& report);

    CommandContext& c_;
    std::unique_ptr<QlnState> state_;
    std::string device_;
    CliNotifier notifier_;
    EngineThreads threads_;
    bool attached_ = false;
    JobHistory history_;
    const char* action_ = nullptr;
    bool identityPending_ = false; // the next Request reads the identity first
};

// A text from outside (a database's, a server's error) as a terminal line shows it: control
// characters and bytes that are not UTF-8 escaped (\n, \x1b), so it can neither end the line nor
// send the terminal commands.
std::string TerminalText(const std::string& s);

// ---- JSON -------------------------------------------------------------------------------------

std::string JsonString(const std::string& s);

class JsonObject {
public:
    void Add(const std::string& key, const std::string& rawValue) { items_.emplace_back(key, rawValue); }
    void Add(const std::string& key, long v) { Add(key, std::to_string(v)); }
    void AddText(const std::string& key, const std::string& v) { Add(key, JsonString(v)); }
    std::string Body() const;
    std::string Str() const { return Body() + "\n"; }

private:
    std::vector<std::pair<std::string, std::string>> items_;
};
