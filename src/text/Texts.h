#pragma once
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Text identifiers the core uses by name.
enum TextId : unsigned {
    IDS_DATA_CHANGED = 1,
    IDS_PROJECT_INFO = 30,
    IDS_SAVE_MODIFIED = 32,
    IDS_CHARACTER_NOT_ALLOWED = 33,
    IDS_COMMUNICATION_ERROR = 106,
    IDS_COMMUNICATION_ACTIVE = 113,
    IDS_BAUDRATE_ERROR = 333,
    IDS_FIRMWARE_ZERO = 348,
    IDS_CAUTION = 357,
    IDS_AUTOTUNE_CAUTION = 367,
    IDS_AUTOTUNE_CONFIRM = 368,
    IDS_LINE_NOT_SENT = 400,
    IDS_LINE_NO_ANSWER = 401,
    IDS_LINE_REFUSED = 402,
    IDS_LINE_DAMAGED = 403,
    IDS_LINE_FIRMWARE_ZERO = 404,
    IDS_WRITE_MIXED = 405,
    IDS_WRITE_NONE_TAKEN = 406,
    IDS_TEST_FUNCTION_NOT_WRITTEN = 407,
    IDS_PROJECT_WHILE_BUSY = 460,
    IDS_PORT_DEVICE_LABEL = 470,
    IDS_PORT_DEVICE_ABSENT = 471,
    IDS_PORT_MAPPED_TO_ADAPTER = 472,
    IDS_LINK_DEVICE_BACK = 473,
    IDS_UNKNOWN_ACQUISITION_MODE = 480,
    IDS_HISTORY_REFUSED = 495,
    IDS_HISTORY_ENTRY_LOST = 496,
    IDS_HISTORY_IN_OUTBOX = 497,
    IDS_HISTORY_TITLE = 500,
    IDS_HISTORY_VALVES = 501,
    IDS_HISTORY_SERIAL = 502,
    IDS_HISTORY_PART = 503,
    IDS_HISTORY_LAST_SEEN = 504,
    IDS_HISTORY_ENTRIES = 505,
    IDS_HISTORY_ENTRY = 506,
    IDS_HISTORY_TIME = 507,
    IDS_HISTORY_STATION = 508,
    IDS_HISTORY_USER = 509,
    IDS_HISTORY_ACTION = 510,
    IDS_HISTORY_RESULT = 511,
    IDS_HISTORY_ERROR = 512,
    IDS_HISTORY_DIFFERENCES = 513,
    IDS_HISTORY_PARAMETER = 514,
    IDS_HISTORY_PROJECT = 515,
    IDS_HISTORY_TAKE = 516,
    IDS_HISTORY_CONFIRMED = 517,
    IDS_HISTORY_CHOOSE = 518,
    IDS_HISTORY_SAME = 519,
    IDS_HISTORY_NO_SET = 520,
    IDS_HISTORY_OFF = 521,
    IDS_HISTORY_UNUSABLE = 522,
    IDS_HISTORY_UNREACHABLE = 523,
    IDS_HISTORY_DAMAGED = 524,
    IDS_HISTORY_EMPTY = 525,
    IDS_HISTORY_OUTBOX_WAITING = 526,
    IDS_LINK_NOT_CONNECTED = 410,
    IDS_LINK_BAUD = 411,
    IDS_LINK_NOT_ANSWERING = 412,
    IDS_LINK_DEVICE_GONE = 413,
    IDS_LINK_REPLIES_UNUSABLE = 414,
    IDS_LINK_SIMULATED = 415,
    IDS_LINK_CANNOT_OPEN = 416,
    IDS_WAITING_FOR_VALVE = 417,
    IDS_PORT_STORED_UNUSABLE = 418,
    IDS_WHY_ENGINE_BUSY = 420,
    IDS_WHY_RECORDING = 421,
    IDS_WHY_CALIBRATION = 422,
    IDS_HELP_NOT_FOUND = 424,
    IDS_HELP_TITLE = 425,
    IDS_HELP_FIND = 426,
    IDS_HELP_FIND_NEXT = 427,
    IDS_HELP_UNREADABLE = 428,
    IDS_HELP_LANGUAGE = 429,
    IDS_SERIAL_SETPOINT_MAY_RUN = 430,
    IDS_SERIAL_SETPOINT_CLOSE_ANYWAY = 431,
    IDS_STEP_CHANNELS = 600,
    IDS_STEP_OF = 601,
    IDS_STEP = 602,
    IDS_STEP_MORE = 618,
    IDS_STEP_FIGURES = 619,
    IDS_APP_TITLE = 32024,
};

// One entry of the program's own string table. Texts are UTF-8.
struct BuiltinTextEntry {
    unsigned id;
    const char* text;
};

// The program's own text for an id, or nullptr when it has none.
const char* BuiltinText(unsigned id);

// The whole table, sorted by id (for translators' tools and for checking a translation).
std::span<const BuiltinTextEntry> BuiltinTexts();

// The printf conversions in a text, in order ("%d", "%1.2f", "%s", ...; "%%" is not one). A text
// that is ever used as a format must keep exactly these in a translation, or the formatting call
// would read arguments that were never passed.
std::vector<std::string> PrintfConversions(std::string_view text);

// A source of translated texts by id (the language library). Returns nothing when it lacks the id.
class ITextLibrary {
public:
    virtual ~ITextLibrary() = default;
    virtual std::optional<std::string> Find(unsigned id) const = 0;
};

// Every text the user sees: the language library's when one is loaded and has the id, else the
// program's own. Set up once at start-up and only read afterwards, from any thread.
class TextSource {
public:
    // Told of a lookup the loaded library cannot answer (" IDS %u not found ", caption " Lang Dll ").
    using MissingReporter = std::function<void(const std::string& text, const std::string& caption)>;

    TextSource() = default;
    TextSource(const ITextLibrary* library, MissingReporter reportMissing)
        : library_(library), reportMissing_(std::move(reportMissing)) {}

    // The texts added after the first libraries (407, and 431 onwards below the dialog ids) are
    // looked up as GetSilently does.
    std::string Get(unsigned id) const;
    // As Get, but a library that lacks the id is not reported: for texts looked up every second
    // (the status bar, the menu's tooltips), where a box per lookup would never end, and for texts
    // a library made for an older version cannot know.
    std::string GetSilently(unsigned id) const;
    // The program's own text, never the library's (for the few texts that must not be translated).
    static std::string Builtin(unsigned id);
    bool HasLibrary() const { return library_ != nullptr; }
    // The library's text for the id, without falling back and without reporting a missing one.
    std::optional<std::string> LibraryText(unsigned id) const {
        return library_ ? library_->Find(id) : std::nullopt;
    }

private:
    const ITextLibrary* library_ = nullptr;
    MissingReporter reportMissing_;
};

// Puts values[i] in place of "{i}" (each placeholder once; the program's texts are never printf
// formats, so a translation cannot make a formatting call read what was never passed).
std::string FillPlaceholders(std::string text, std::initializer_list<std::string> values);

// The program's own text for an id (no language library), or " IDS %u not found " for an id the
// program does not have.
std::string LoadText(unsigned id);
