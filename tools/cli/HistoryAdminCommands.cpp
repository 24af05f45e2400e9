#include "HistoryAdminCommands.h"

#include <ostream>

#include "CliRun.h"
#include "JobHistory.h"
#include "history/History.h"
#include "history/HistoryChain.h"

namespace {
// "ID:HASH" as `verify` prints a head it found intact.
std::optional<ChainMark> ParseAnchor(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    const std::string id = text.substr(0, colon), hash = text.substr(colon + 1);
    if (id.find_first_not_of("0123456789") != std::string::npos || id.size() > 15 || hash.size() != 64 ||
        hash.find_first_not_of("0123456789abcdef") != std::string::npos)
        return std::nullopt;
    return ChainMark{std::stoll(id), hash};
}
} // namespace

int RunHistorySetup(CommandContext& c) {
    if (c.o.historyPrint) {
        c.out << HistorySetupScript();
        return 0;
    }
    const std::string& uri = c.o.historyWords[1];
    std::string error;
    const std::optional<HistoryTarget> target = ParseHistoryTarget(uri, &error);
    if (!target || target->kind != HistoryTarget::Kind::Postgres) {
        c.err << "qln-cli: history setup " << (target ? "takes a postgresql:// URI" : error)
              << "; a SQLite history sets itself up at its first job\n";
        return EXIT_USAGE;
    }
    if (!SetUpHistory(*target, &error)) {
        c.err << "qln-cli: " << error << "\n";
        return EXIT_HISTORY;
    }
    c.out << (c.o.json
                  ? std::string("{\"set_up\": true}\n")
                  : "The valve history is set up in schema qln. Grant qln_station to each station's login "
                    "role, qln_auditor to those who only read.\n");
    return 0;
}

int RunHistoryVerify(CommandContext& c, HistoryStore& store) {
    std::optional<ChainMark> anchor;
    if (c.o.historyAnchor) {
        anchor = ParseAnchor(*c.o.historyAnchor);
        if (!anchor) {
            c.err << "qln-cli: --anchor " << *c.o.historyAnchor << ": give ID:HASH as verify printed it\n";
            return EXIT_USAGE;
        }
    }
    std::string error;
    std::optional<std::pair<int64_t, std::string>> head;
    const std::vector<HistoryEntry> entries = store.Chain(&head, &error);
    if (!error.empty()) {
        c.err << "qln-cli: the valve history cannot be read: " << error << "\n";
        return EXIT_HISTORY;
    }
    std::optional<ChainMark> dbHead;
    if (head) dbHead = ChainMark{head->first, head->second};
    const std::optional<ChainBreak> broken = CheckChain(entries, dbHead, anchor);
    const std::string lastHash = entries.empty() ? kChainStart : entries.back().hash;
    const int64_t lastId = entries.empty() ? 0 : entries.back().id;
    if (c.o.json) {
        JsonObject j;
        j.Add("intact", broken ? "false" : "true");
        j.Add("entries", static_cast<long>(entries.size()));
        j.Add("head", broken ? "null" : "\"" + std::to_string(lastId) + ":" + lastHash + "\"");
        j.Add("first_broken", broken ? std::to_string(broken->id) : "null");
        j.Add("reason", broken ? JsonString(broken->reason) : "null");
        c.out << j.Str();
    } else if (broken) {
        c.out << "The chain is broken at entry " << broken->id << ": " << broken->reason << ".\n";
    } else {
        c.out << "The chain is intact: " << entries.size() << " entries, head " << lastId << ":" << lastHash
              << " (keep it, and give it to a later verify as --anchor).\n";
    }
    return broken ? EXIT_CHAIN_BROKEN : 0;
}

int RunHistoryOutbox(CommandContext& c) {
    std::string error;
    const std::string path = CliOutboxPath();
    if (c.o.historyRelease) {
        const std::string uid = *c.o.historyRelease == "all" ? "" : *c.o.historyRelease;
        if (!ReleaseFromQuarantine(path, uid, &error)) {
            c.err << "qln-cli: " << error << "\n";
            return EXIT_USAGE;
        }
        c.out << (c.o.json ? std::string("{\"released\": true}\n")
                           : "Released: the next job that reaches the database delivers it.\n");
        return 0;
    }
    const std::optional<std::vector<OutboxEntry>> entries = ReadOutbox(path, &error);
    if (!entries) {
        c.err << "qln-cli: the outbox " << path << " cannot be read: " << error << "\n";
        return EXIT_HISTORY;
    }
    if (c.o.json) c.out << "{\"outbox\": " << JsonString(path) << ", \"entries\": [";
    bool first = true;
    for (const OutboxEntry& o : *entries) {
        const HistoryEntry& e = o.entry;
        if (c.o.json) {
            JsonObject j;
            j.AddText("uid", e.uid);
            j.AddText("time", e.time);
            j.AddText("serial", e.serial);
            j.AddText("action", e.action);
            j.AddText("result", HistoryResultName(e.result));
            j.Add("quarantined", o.quarantined.empty() ? "false" : "true");
            j.Add("reason", o.quarantined.empty() ? "null" : JsonString(o.quarantined));
            c.out << (first ? "" : ", ") << j.Body();
        } else {
            c.out << e.uid << "  " << e.time << "  serial " << e.serial << "  " << e.action << " "
                  << HistoryResultName(e.result) << "  "
                  << (o.quarantined.empty() ? "waits" : "quarantined: " + o.quarantined) << "\n";
        }
        first = false;
    }
    if (c.o.json) c.out << "]}\n";
    if (!c.o.json && entries->empty()) c.out << "The outbox " << path << " holds nothing.\n";
    return 0;
}
