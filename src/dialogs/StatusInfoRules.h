#pragma once
#include <atomic>
#include <cstdint>
#include <span>

#include "engine/DeviceRecords.h"
#include "engine/StatusPairs.h"
#include "link/LinkState.h"

// The status dialog's rules that need no widget: which radio button of a pair a value checks,
// which picture an LED shows, when the dialog may poll and when it may read the shared record.

// -1 for no selection (record not valid, or a value other than 1 or 2), else 0 or 1.
int RadioSelection(int32_t value, bool valid);

enum class LedColour { Red, Green, Yellow };
enum class LedPicture { NoData, Off, Question, LitRed, LitGreen, LitYellow };
// State 0 off, 1 lit, 2 unknown to the valve, 3 blinking (lit while the phase is false). A state
// outside 0..3 is shown as unknown rather than as a plausible light.
LedPicture ChooseLedPicture(LedColour led, int32_t state, bool valid, bool blinkPhase);

// Codes 1 to 8: the engine's communication errors.
bool IsCommunicationError(uint32_t code);

// A poll asks for a status read only into an idle request word and never again after a
// communication error. The exchange is atomic, so a request set meanwhile by anyone is never
// overwritten. Returns true when the read was requested.
bool RequestStatusRead(std::atomic<uint32_t>& threadCmd, bool communicationError);
// The port's device as a dialog that polls the valve sees it: usable (not lost), gone (lost, its
// path absent) or back (lost, its path there again: the next request opens it afresh).
enum class PortDevice { Usable, Gone, Back };
PortDevice PortDeviceOf(bool portLost, bool pathBack);
PortDevice PortDeviceOf(const LinkState& link);
// One poll tick of the status dialog. While the device is gone nothing is asked (the values go
// stale as after a poll without reply); once it is back the dialog asks again by itself, also
// after a stop.
struct StatusPoll {
    bool request;     // ask the engine for a status read
    bool unconfirmed; // the values wait for a reply from now on
    bool stopped;     // the communication-error stop after this tick
};
StatusPoll DecideStatusPoll(bool communicationError, PortDevice device);
// A communication error stops the polls for good, except the one a vanishing device causes: the
// port is then lost until the next request opens it.
bool ErrorStopsStatusPolls(PortDevice device);
// The window's communication-error box is not shown for that error while the status dialog is
// open; it says no more than the dialog's stale values and the connection field.
bool CommunicationBoxShown(bool statusDialogOpen, PortDevice device);
// The valve info dialog's button: the same rule without the error stop.
bool RequestValveInfoRead(std::atomic<uint32_t>& threadCmd);

// The engine writes the status fields only while a status read is requested (the window itself
// sets that bit). Outside of that the record is settled: copies it into `copy` (valid flag loaded
// first, acquire) and returns true. While a read is pending the caller keeps its last copy, so
// the display neither flickers to "no data" nor reads fields that are being written.
bool SnapshotStatus(uint32_t threadCmd, StatusInfo& shared, StatusInfo& copy);
// Clearing the record when the dialog opens: the flag always; the fields only when no status read
// is pending, because otherwise the engine may be writing them right now (and will overwrite them).
void ClearStatus(uint32_t threadCmd, StatusInfo& shared);

// Whether the values on display are still confirmed by the valve. A dialog that asks the engine
// for a read (a poll, the read button) and hears nothing back for STALE_AFTER_MS marks its values
// as stale; the engine's own time-outs and retries take far longer than that. Times are
// milliseconds of the link's clock.
class StaleWatch {
public:
    static constexpr uint32_t STALE_AFTER_MS = 3000;

    // A read was asked for (or would have been, but the engine was busy): the first ask after an
    // answer starts the wait, later ones keep it.
    void Asked(uint32_t nowMs);
    // A reply, or a failure that replaced the values by "no data": nothing is waited for.
    void Settled();
    bool Stale(uint32_t nowMs) const;

private:
    bool waiting_ = false;
    uint32_t since_ = 0;
};
