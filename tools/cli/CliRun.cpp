#include "CliRun.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <iostream>
#include <sstream>
#include <string_view>

#include "engine/DeviceCommands.h"
#include "engine/FailureReport.h"
#include "link/Json.h"
#include "link/SerialPort.h"
#include "project/ProjectLayout.h"
#include "settings/ComSettings.h"
#include "system/Files.h"
#include "system/Host.h"
#include "system/StopSignals.h"
#include "system/Utf8.h"
#include "text/Texts.h"

// Progress goes to a person only: stderr on a terminal.
bool IsTerminal(const std::ostream& err) {
    return &err == &std::cerr && StderrIsTerminal();
}

// ---- arguments ----------------------------------------------------------------------------------

std::optional<double> ParseNumber(const std::string& text) {
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// ---- the project file -------------------------------------------------------------------------

namespace {
// The path a save goes to: the file given, with the project extension for a new project.
std::string SavePath(const std::string& path) {
    if (StatPath(path).exists) return path;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    return folder + AdjustExtension(FileNameOfPath(path));
}
} // namespace

std::string LoadProject(const std::string& path, ProjectNeeds needs, ProjectFile& project) {
    ResetProject(project);
    const PathStatus st = StatPath(path);
    if (!st.exists && st.error == ENOENT && needs == ProjectNeeds::NewIfMissing) {
        const std::string name = AdjustExtension(FileNameOfPath(path));
        SetFieldName(project.info.ProjectName, name.substr(0, name.rfind('.')));
        SetFieldName(project.info.FileName, name);
        return "";
    }
    std::string error;
    if (!ReadProjectFile(path, project, &error)) return "cannot use project file " + error;
    // A file that ends before the record a command needs holds none: writing or comparing the
    // reset values in its place would mislead.
    if (needs == ProjectNeeds::Parameters && st.size < EDIT_BLOCK_RECORD.offset + EDIT_BLOCK_RECORD.size)
        return "'" + path + "' is too short to be a project file (it holds no parameter set)";
    if (needs == ProjectNeeds::Calibration && st.size < CALIBRATION_RECORD.offset + CALIBRATION_RECORD.size)
        return "'" + path + "' is too short to be a project file (it holds no calibration record)";
    return "";
}

std::string RealProjectPath(const std::string& path) {
    return ProjectPathIn(ProgramFolder(), path);
}

int SaveProject(const std::string& path, ProjectFile& project, std::ostream& err) {
    std::string error;
    if (WriteProjectFile(SavePath(path), project, &error)) return 0;
    err << "qln-cli: " << error << " The file was left as it was.\n";
    return EXIT_PROJECT_NOT_SAVED;
}

// ---- the engine's notifications ---------------------------------------------------------------

void CliNotifier::ShowMessage(const std::string& text, const std::string& caption) {
    std::lock_guard<std::mutex> lock(m_);
    messages_.push_back(caption.empty() ? text : caption + ": " + text);
}

uint32_t CliNotifier::Wait(uint32_t wanted, const QlnState& s) {
    for (;;) {
        const uint32_t c = Next(s);
        if (c == 0 || c == wanted || (c >= 1 && c <= 8) || c == NOTIFY_CANCELLED) return c;
    }
}

uint32_t CliNotifier::Next(const QlnState& s) {
    std::unique_lock<std::mutex> lock(m_);
    int idleLooks = 0;
    while (codes_.empty()) {
        // Every end of an action is notified; the slow look at an idle engine only keeps a
        // request that ended silently (one the engine does not know) from hanging the tool.
        if (cv_.wait_for(lock, std::chrono::seconds(1)) == std::cv_status::timeout)
            idleLooks = s.THREAD_CMD.load() == 0 ? idleLooks + 1 : 0;
        if (idleLooks >= 3) return 0;
    }
    const uint32_t c = codes_.front();
    codes_.pop_front();
    return c;
}

std::vector<std::string> CliNotifier::TakeMessages() {
    std::lock_guard<std::mutex> lock(m_);
    return std::exchange(messages_, {});
}

intptr_t CliNotifier::ValueOf(uint32_t code) {
    std::lock_guard<std::mutex> lock(m_);
    return values_[code];
}

void CliNotifier::Push(uint32_t code, intptr_t value) {
    std::lock_guard<std::mutex> lock(m_);
    values_[code] = value;
    codes_.push_back(code);
    cv_.notify_all();
}

// ---- the interrupt ----------------------------------------------------------------------------

void CliInterrupt::Raise(int signo) {
    std::lock_guard<std::mutex> lock(m_);
    signal_ = signo;
    ++count_;
    Apply();
}

void CliInterrupt::Apply() {
    if (!state_ || count_ == 0) return;
    if (handler_) {
        handler_(*state_, count_);
    } else {
        state_->CancelRequested.store(1);
        WakeEngine(state_->link);
    }
}

int CliInterrupt::Signal() const {
    std::lock_guard<std::mutex> lock(m_);
    return signal_;
}

void CliInterrupt::Attach(QlnState* s, Handler handler) {
    std::lock_guard<std::mutex> lock(m_);
    state_ = s;
    handler_ = std::move(handler);
    Apply();
}

// ---- running the engine -----------------------------------------------------------------------

ValveRun::ValveRun(CommandContext& c)
    : c_(c), state_(std::make_unique<QlnState>(c.clock)), threads_(*state_, notifier_), history_(c) {
    const Options& o = c.o;
    QlnState& s = *state_;
    std::string comError;
    const ComSettings com = ReadComSettings("", &comError);
    // The settings file decides the port only when none is given on the command line; then a file
    // that names no port must not silently mean COM1, which is a console port on many machines.
    if (!o.testMode && !o.device && !o.port) {
        if (!comError.empty())
            c.err << "qln-cli: warning: " << kComSettingsFile << ": " << comError << "; COM1 ("
                  << com.DevicePath[0] << ") is used instead.\n";
        else if (!com.warning.empty())
            c.err << "qln-cli: warning: " << com.warning << "\n";
    }
    for (int i = 0; i < 8; ++i)
        s.link.DevicePath[static_cast<size_t>(i)] = com.DevicePath[static_cast<size_t>(i)];
    s.link.PortIndex.store(o.port.value_or(com.PortIndex));
    if (o.device) {
        s.link.PortIndex.store(0);
        s.link.DevicePath[0] = *o.device;
    }
    device_ = s.link.DevicePath[static_cast<size_t>(s.link.PortIndex.load())];
    history_.SetLink(o.device || o.testMode ? "" : ComName(s.link.PortIndex.load()),
                     o.testMode ? "simulated valve" : device_);
    if (o.testMode) s.link.uTestMode.store(1);
    s.link.FixedBaudIndex.store(o.baudIndex);
    // The speed the device answered at last time is tried first; --baud tries only its own.
    if (!o.testMode && o.baudIndex == 0)
        s.link.PreferredBaudIndex.store(BaudIndexOfRate(RememberedSpeed(com, device_)));
    if (o.trace) {
        s.link.trace.TraceEnabled.store(1);
        const std::string traceError =
            s.link.trace.OpenTrace("debug.txt", LoadText(IDS_APP_TITLE), s.link.uTestMode.load());
        if (!traceError.empty()) c.err << "qln-cli: warning: " << traceError << "\n";
    }
}

ValveRun::~ValveRun() {
    threads_.Stop();
    if (attached_) c_.interrupt->Attach(nullptr);
}

void ValveRun::Start(CliInterrupt::Handler onSignal) {
    if (c_.interrupt) {
        c_.interrupt->Attach(state_.get(), std::move(onSignal));
        attached_ = true;
    }
    threads_.Start();
}

int ValveRun::Begin(const char* action, CliInterrupt::Handler onSignal) {
    if (action) {
        if (const int refused = history_.Open(); refused >= 0) return refused;
        action_ = action;
    }
    Start(std::move(onSignal));
    // The identity goes with the job's first request: read first in the same run of the engine, and
    // a failed identity read fails that request before its own step sends anything.
    identityPending_ = history_.Enabled() && action_;
    return -1;
}

void ValveRun::CompleteStep(const char* next) {
    if (action_) history_.Record(action_, HistoryResult::Ok, -1, "", *state_);
    action_ = next;
}

uint32_t ValveRun::Request(uint32_t bits, uint32_t wanted) {
    const bool identity = std::exchange(identityPending_, false);
    // A write is on record before its first telegram, so that a run killed during it leaves a trace.
    if (action_ && std::string_view(action_).rfind("write-", 0) == 0) history_.Start(action_, *state_);
    RequestAction(*state_, identity ? bits | CMD_READ_IDENTITY : bits);
    const uint32_t code = notifier_.Wait(wanted, *state_);
    if (const ValveIdentity id = CopyValveIdentity(*state_); identity && id.Valid) history_.SetIdentity(id);
    return code;
}

int ValveRun::End(uint32_t code, uint32_t wanted, bool parameterWrite) {
    QlnState& s = *state_;
    threads_.Stop();
    if (attached_) c_.interrupt->Attach(nullptr);
    attached_ = false;
    const std::string traceWriteError = s.link.trace.TakeWriteError();
    if (!traceWriteError.empty()) c_.err << "qln-cli: warning: " << traceWriteError << "\n";
    s.link.trace.CloseTrace();
    // Whatever the command's outcome, the speed found is true of the device.
    if (const int32_t found = BaudIndexToRemember(s.link); found != 0) {
        std::string error;
        if (!WriteRememberedSpeed("", device_, BaudRateOf(found), &error))
            c_.err << "qln-cli: warning: the line speed found was not remembered: " << error << "\n";
    }

    for (const std::string& m : notifier_.TakeMessages())
        c_.err << m << "\n";
    std::ostringstream report;
    const int status = code == wanted ? -1 : ReportFailure(code, parameterWrite, report);
    c_.err << report.str();
    RecordEnd(code, wanted, parameterWrite, report.str());
    return status;
}

void ValveRun::RecordEnd(uint32_t code, uint32_t wanted, bool parameterWrite, const std::string& report) {
    if (!action_) return;
    const char* action = std::exchange(action_, nullptr);
    const int32_t acked = parameterWrite ? state_->ParamsWriteAcked.load() : -1;
    HistoryResult result = HistoryResult::Failed;
    int confirmed = -1;
    if (code == wanted) {
        result = HistoryResult::Ok;
        confirmed = parameterWrite ? PARAM_WRITE_COUNT : -1;
    } else if (acked >= 0 && acked < PARAM_WRITE_COUNT) {
        result = HistoryResult::Incomplete;
        confirmed = acked;
    } else if (code == NOTIFY_CANCELLED) {
        result = HistoryResult::Incomplete;
    }
    // The report on one line.
    std::string error;
    for (char ch : report)
        error += ch == '\n' ? ' ' : ch;
    while (!error.empty() && error.back() == ' ')
        error.pop_back();
    history_.Record(action, result, confirmed, error, *state_);
}

// A request that did not complete. A parameter write that had begun may have left the valve
// with a mix of old and new values, so that is what it ends with.
int ValveRun::ReportFailure(uint32_t code, bool parameterWrite, std::ostream& err) const {
    const QlnState& s = *state_;
    const Options& o = c_.o;
    const TextSource texts;
    const int32_t acked = parameterWrite ? s.ParamsWriteAcked.load() : -1;
    const bool writeBegun = acked >= 0 && acked < PARAM_WRITE_COUNT;
    if (code == NOTIFY_CANCELLED) {
        const int signo = c_.interrupt ? c_.interrupt->Signal() : 0;
        err << "qln-cli: stopped by " << StopSignalName(signo) << " after the telegram on the line.\n";
        if (writeBegun) {
            err << WriteOutcomeText(acked, texts) << "\n";
            return EXIT_WRITE_INCOMPLETE;
        }
        err << "Nothing was written to the valve.\n";
        return EXIT_SIGNAL_BASE + signo;
    }
    if (code == 0) {
        err << "The request ended without a result. Run again with --trace and look at debug.txt.\n";
        return 1;
    }
    if (code == NOTIFY_BAUDRATE_ERROR) {
        err << LoadText(IDS_BAUDRATE_ERROR) << "\n";
        const int openError = LastOpenError(s.link);
        if (!o.testMode && openError != 0)
            err << PortOpenAdvice(openError, device_) << "\n";
        else if (s.LastFailure.load() == LineFailure::FirmwareZero)
            err << LineFailureText(LineFailure::FirmwareZero, texts) << "\n";
        else
            err << "The valve did not answer at "
                << (o.baudIndex == 0 ? std::string("19200 or 57600")
                                     : std::to_string(BaudRateOf(o.baudIndex)))
                << " baud on " << device_ << ". Check the cable, the port"
                << (o.baudIndex == 0 ? "" : ", the line speed") << " and that the valve is powered.\n";
        return static_cast<int>(code);
    }
    err << LoadText(IDS_COMMUNICATION_ERROR) << " on " << device_ << "\n";
    const std::string line = LineFailureText(s.LastFailure.load(), texts);
    err << (line.empty() ? "Check the cable, the port and that the valve is powered." : line) << "\n";
    if (const std::string setpoint = SerialSetpointText(s, texts); !setpoint.empty()) err << setpoint << "\n";
    if (const std::string test = TestFunctionText(s, texts); !test.empty()) err << test << "\n";
    if (writeBegun) {
        err << WriteOutcomeText(acked, texts) << "\n";
        return EXIT_WRITE_INCOMPLETE;
    }
    return static_cast<int>(code);
}

std::string TerminalText(const std::string& s) {
    return EscapedText(s, EscapeAlso::Controls);
}

// ---- JSON -------------------------------------------------------------------------------------

// Control characters too: a project name or file text may hold a tab or line break.
std::string JsonString(const std::string& s) {
    return JsonQuote(s);
}

std::string JsonObject::Body() const {
    std::string out = "{";
    for (size_t i = 0; i < items_.size(); ++i)
        out += (i ? ", " : "") + JsonString(items_[i].first) + ": " + items_[i].second;
    return out + "}";
}
