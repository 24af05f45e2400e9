// A station's jobs for the history tests: `qln_history_writer TARGET OUTBOX COUNT SERIAL` records
// COUNT entries (0: until killed), each as one job (open, record), with `firmware` = its number.
// Prints the number of each entry once it is recorded, and the outbox notice when one comes. A fifth
// argument "die-after-delivery" ends the process (status 3) right after the store has taken the first
// entry delivered from the outbox, before the outbox lets it go.
#include "history/History.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) return 2;
    const bool die = argc == 6 && std::string(argv[5]) == "die-after-delivery";
    std::string error;
    const std::optional<HistoryTarget> target = ParseHistoryTarget(argv[1], &error);
    if (!target) return 2;
    const long count = std::stol(argv[3]);
    for (long i = 0; count == 0 || i < count; ++i) {
        HistoryRecorder recorder(*target, argv[2]);
        if (die) recorder.SetDeliveredHook([] { std::_Exit(3); });
        HistoryOpenFailure failure;
        std::string notice;
        HistoryEntry entry = NewHistoryEntry("write-params");
        entry.serial = argv[4];
        entry.firmware = std::to_string(i);
        entry.parameters.assign(620, static_cast<uint8_t>(i));
        if (!recorder.Open(&failure, &error) || !recorder.Record(entry, &notice, &error)) {
            std::printf("error: %s\n", error.c_str());
            return 1;
        }
        if (!notice.empty()) std::printf("notice: %s\n", notice.c_str());
        std::printf("%ld\n", i);
        std::fflush(stdout);
    }
    return 0;
}
