#include "HistoryCommands.h"

#include <cstdio>
#include <cstring>
#include <ostream>

#include "CliRun.h"
#include "HistoryAdminCommands.h"
#include "JobHistory.h"
#include "ParamsCommands.h"
#include "params/ParameterCheck.h"

namespace {
// An entry number as the list shows it: a whole number from 1.
std::optional<int64_t> ParseId(const std::string& word) {
    const std::optional<double> v = ParseNumber(word);
    if (!v || *v < 1 || *v > 9e15 || *v != static_cast<double>(static_cast<int64_t>(*v)) ||
        word.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<int64_t>(*v);
}

// The words each form takes after its first.
struct HistoryForm {
    const char* word;
    size_t words;
    const char* usage;
    bool entry; // its second word is an entry's number
};
constexpr HistoryForm FORMS[] = {{"show", 2, "history show ID", true},
                                 {"diff", 3, "history diff ID (ID2 | FILE.QPJ)", true},
                                 {"take", 3, "history take ID FILE.QPJ", true},
                                 {"setup", 2, "history setup URL | history setup --print", false},
                                 {"verify", 1, "history verify [--anchor ID:HASH]", false},
                                 {"outbox", 1, "history outbox [--release UID|all]", false}};

const HistoryForm* FormOf(const Options& o) {
    for (const HistoryForm& f : FORMS)
        if (!o.historyWords.empty() && o.historyWords[0] == f.word) return &f;
    return nullptr;
}

// The history named by the options, opened (the outbox delivered first when it is reachable).
struct OpenHistory {
    std::unique_ptr<HistoryRecorder> recorder;
    HistoryStore* store = nullptr;
};
int Open(CommandContext& c, OpenHistory& h) {
    if (!HistoryAvailable()) {
        c.err << "qln-cli: " << NoHistoryHere() << ".\n";
        return EXIT_USAGE;
    }
    std::string error;
    const std::optional<HistoryTarget> target = ChooseHistoryTarget(c.o, &error);
    if (!target) {
        c.err << "qln-cli: " << TerminalText(error) << ".\n";
        return EXIT_HISTORY;
    }
    if (target->kind == HistoryTarget::Kind::Off) {
        c.err << "qln-cli: the history is off" << (c.o.testMode && !c.o.history ? " in test mode" : "")
              << ": name one with --history sqlite:PATH or --history postgresql://...\n";
        return EXIT_USAGE;
    }
    h.recorder = std::make_unique<HistoryRecorder>(*target, CliOutboxPath());
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    if (h.recorder->Open(&failure, &error)) h.store = h.recorder->Store();
    if (!h.store) {
        c.err << "qln-cli: the valve history cannot be read: "
              << (error.empty() ? "the database cannot be reached" : TerminalText(error)) << "\n";
        return EXIT_HISTORY;
    }
    return -1;
}

std::string Number(int v) {
    return v < 0 ? "null" : std::to_string(v);
}

// `text` filled with blanks to `width` bytes, as printf's %-Ns does.
std::string Padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// One entry of the list, whole: its texts come from the database, so each is escaped and no
// length cuts the line short.
std::string ListLine(const HistoryEntry& e) {
    const std::string result = std::string(HistoryResultName(e.result)) +
                               (e.confirmed >= 0 ? " " + std::to_string(e.confirmed) : std::string());
    char id[32];
    std::snprintf(id, sizeof id, "%6lld", static_cast<long long>(e.id));
    return std::string(id) + "  " + TerminalText(e.time) + "  serial " + Padded(TerminalText(e.serial), 10) +
           " part " + Padded(TerminalText(e.part), 12) + " fw " + Padded(TerminalText(e.firmware), 3) + " " +
           Padded(TerminalText(e.action), 13) + " " + Padded(result, 15) + " " + TerminalText(e.user) + "@" +
           TerminalText(e.station) + "\n";
}

void PrintList(const std::vector<HistoryEntry>& entries, bool json, std::ostream& out) {
    if (json) {
        out << "{\"entries\": [";
        for (size_t i = 0; i < entries.size(); ++i) {
            const HistoryEntry& e = entries[i];
            JsonObject j;
            j.Add("id", std::to_string(e.id));
            j.AddText("time", e.time);
            j.AddText("station", e.station);
            j.AddText("user", e.user);
            j.AddText("serial", e.serial);
            j.AddText("part", e.part);
            j.AddText("firmware", e.firmware);
            j.AddText("action", e.action);
            j.AddText("result", HistoryResultName(e.result));
            j.Add("confirmed", Number(e.confirmed));
            out << (i ? ", " : "") << j.Body();
        }
        out << "]}\n";
        return;
    }
    for (const HistoryEntry& e : entries)
        out << ListLine(e);
}

// The entry's parameter set; nullopt (said on stderr) when there is no such entry or it holds none.
std::optional<ParameterBlock> EntrySet(CommandContext& c, HistoryStore& store, int64_t id) {
    std::string error;
    const std::optional<HistoryEntry> e = store.Get(id, &error);
    if (!e) {
        c.err << "qln-cli: "
              << (error.empty() ? "there is no history entry " + std::to_string(id) : TerminalText(error))
              << "\n";
        return std::nullopt;
    }
    if (e->parameters.size() != sizeof(ParameterBlock)) {
        c.err << "qln-cli: history entry " << id << " (" << TerminalText(e->action) << ", "
              << HistoryResultName(e->result) << ") holds no parameter set\n";
        return std::nullopt;
    }
    ParameterBlock b;
    std::memcpy(&b, e->parameters.data(), sizeof b);
    return b;
}

int List(CommandContext& c, HistoryStore& store) {
    std::string error;
    const std::vector<HistoryEntry> entries = store.List(c.o.historyValve, &error);
    if (!error.empty()) {
        c.err << "qln-cli: the valve history cannot be read: " << TerminalText(error) << "\n";
        return EXIT_HISTORY;
    }
    PrintList(entries, c.o.json, c.out);
    return 0;
}

int Show(CommandContext& c, HistoryStore& store, int64_t id) {
    const std::optional<ParameterBlock> b = EntrySet(c, store, id);
    if (!b) return EXIT_USAGE;
    PrintParams(*b, c.o.json, c.out);
    return 0;
}

// Against a second entry as it was kept, or against a project's edited set as write-params sends it.
int Diff(CommandContext& c, HistoryStore& store, int64_t id, const std::string& other) {
    const std::optional<ParameterBlock> first = EntrySet(c, store, id);
    if (!first) return EXIT_USAGE;
    std::optional<ParameterBlock> second;
    const std::string firstName = "#" + std::to_string(id);
    std::string secondName = "project";
    if (const std::optional<int64_t> id2 = ParseId(other)) {
        second = EntrySet(c, store, *id2);
        secondName = "#" + std::to_string(*id2);
    } else {
        ProjectFile project;
        const std::string error = LoadProject(other, ProjectNeeds::Parameters, project);
        if (!error.empty()) c.err << "qln-cli: " << error << "\n";
        if (error.empty()) second = project.editBlock;
        if (second) RoundToValveSteps(*second);
    }
    if (!second) return EXIT_USAGE;
    const auto diffs = Differences(*first, *second);
    PrintDifferences(diffs, c.o.json, c.out, firstName.c_str(), secondName.c_str());
    return diffs.empty() ? 0 : EXIT_DIFFERENT;
}

// As read-params FILE keeps the valve's set: every other record of an existing project stays.
int Take(CommandContext& c, HistoryStore& store, int64_t id, const std::string& file) {
    const std::optional<ParameterBlock> b = EntrySet(c, store, id);
    if (!b) return EXIT_USAGE;
    ProjectFile project;
    if (const std::string error = LoadProject(file, ProjectNeeds::NewIfMissing, project); !error.empty()) {
        c.err << "qln-cli: " << error << "\n";
        return EXIT_USAGE;
    }
    project.editBlock = *b;
    if (const int failed = SaveProject(file, project, c.err); failed != 0) return failed;
    c.out << (c.o.json ? "{\"taken\": " + std::to_string(id) + "}\n"
                       : "History entry " + std::to_string(id) + " is now the edited set of " + file + ".\n");
    return 0;
}
} // namespace

std::string CheckHistoryArgs(const Options& o) {
    const std::vector<std::string>& w = o.historyWords;
    if (w.empty()) return "";
    const HistoryForm* f = FormOf(o);
    if (!f) return "unknown history command '" + w[0] + "': use show, diff, take, setup, verify or outbox";
    const bool printOnly = f->word == std::string("setup") && o.historyPrint && w.size() == 1;
    if (w.size() != f->words && !printOnly) return std::string("usage: qln-cli ") + f->usage;
    if (f->entry && !ParseId(w[1]))
        return "unknown history entry '" + w[1] + "': use an entry's number from the list";
    if (o.historyValve) return "--valve belongs to the list (qln-cli history --valve SERIAL)";
    const bool misplaced = (o.historyPrint && f->word != std::string("setup")) ||
                           (o.historyAnchor && f->word != std::string("verify")) ||
                           (o.historyRelease && f->word != std::string("outbox"));
    if (misplaced) return "--print belongs to setup, --anchor to verify, --release to outbox";
    return "";
}

int RunHistory(CommandContext& c) {
    const std::vector<std::string>& w = c.o.historyWords;
    if (!w.empty() && w[0] == "setup") return RunHistorySetup(c);
    if (!w.empty() && w[0] == "outbox") return RunHistoryOutbox(c);
    OpenHistory h;
    if (const int failed = Open(c, h); failed >= 0) return failed;
    if (w.empty()) return List(c, *h.store);
    if (w[0] == "verify") return RunHistoryVerify(c, *h.store);
    const int64_t id = *ParseId(w[1]);
    if (w[0] == "show") return Show(c, *h.store, id);
    if (w[0] == "diff") return Diff(c, *h.store, id, w[2]);
    return Take(c, *h.store, id, w[2]);
}
