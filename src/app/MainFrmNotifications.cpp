// The engine's notifications: to the dialog open in each slot, to the scope view, and the boxes of
// a line that failed.
#include "app/MainFrm.h"

#include "app/JobRecording.h"

#include <iostream>

#include "dialogs/MessageBox.h"
#include "dialogs/NotifiedDialog.h"
#include "dialogs/StatusInfoRules.h"
#include "engine/FailureReport.h"
#include "engine/QlnState.h"
#include "engine/StreamGuard.h"
#include "link/SerialPort.h"
#include "view/ChildView.h"

void CMainFrame::SetSlot(DialogSlot slot, CNotifiedDialog* dialog) {
    if (slot < SLOT_COUNT) slots_[slot] = dialog;
}

void CMainFrame::OnMsgReceive(uint32_t code, intptr_t value) {
    if (closing_) return;
    RememberFoundSpeed();
    const NotificationRoute r = RouteNotification(code);
    // What happened on the line, said once for the box and the history; taken before anything else,
    // as a hard stop starts afresh.
    const std::string report =
        r.box == NotificationRoute::Box::CommunicationError ? FailureReport(s_, Texts()) : std::string();
    RecordJob(code, r, report);
    for (unsigned i = 0; i < SLOT_COUNT; ++i) {
        if (!(r.slotMask & (1u << i)) || !slots_[i]) continue;
        QPointer<CNotifiedDialog> d = slots_[i];
        // Queued: the dialog sees it after this handler has returned, and not at all if it has
        // closed in between.
        QMetaObject::invokeMethod(
            d, [d, code, value] { d->OnMsgReceive(code, value); }, Qt::QueuedConnection);
    }
    if (r.copyEditToValveWhenParametersClosed && !slots_[SLOT_PARAMETERS])
        s_.params.ValveBlock = s_.params.EditBlock;
    if (r.view == NotificationRoute::View::Send) view_->OnAcquisitionProgress(value);
    if (r.view == NotificationRoute::View::Post) {
        QPointer<CChildView> v = view_;
        QMetaObject::invokeMethod(
            v, [v, value] { v->OnAcquisitionEnded(value); }, Qt::QueuedConnection);
    }
    switch (r.box) {
    case NotificationRoute::Box::None:
        break;
    case NotificationRoute::Box::CommunicationError: {
        // Say what happened on the line and, after a write that did not complete, that the valve
        // now holds a mix of old and new values. A recording that failed may have left the valve
        // streaming: stopped at once, while the user reads why.
        if (HardStopNeeded(code, s_)) {
            QLN_TRACE_INFO(s_.link.trace, " Acquisition hard stopped after a communication error");
            RequestAction(s_, CMD_HARD_STOP);
        }
        // The status dialog waits for a device that vanished during its poll, and says so.
        if (!CommunicationBoxShown(slots_[SLOT_STATUS_INFO] != nullptr, PortDeviceOf(s_.link))) break;
        messages_.Show(Texts().Get(IDS_COMMUNICATION_ERROR) + (report.empty() ? "" : "\n\n" + report),
                       Texts().Get(IDS_APP_TITLE), MbIcon::None, MbButtons::Ok);
        break;
    }
    case NotificationRoute::Box::BaudrateError: {
        // This text always comes from the program's own table. When the port itself could not be
        // opened, say why and what to do about it.
        std::string text = TextSource::Builtin(IDS_BAUDRATE_ERROR);
        const int openError = LastOpenError(s_.link);
        if (!s_.link.uTestMode.load() && openError != 0) {
            const int port = s_.link.PortIndex.load();
            text += "\n\n" + PortOpenAdvice(openError, s_.link.DevicePath[static_cast<size_t>(port & 7)]);
        }
        messages_.Show(text, Texts().Get(IDS_APP_TITLE), MbIcon::None, MbButtons::Ok);
        break;
    }
    case NotificationRoute::Box::Unknown:
        messages_.Show("ERROR OnMsgReceive ", "KVT", MbIcon::None, MbButtons::Ok);
        break;
    }
}

// The valve history hears of every job's end while the engine waits, so that what it records is
// what the job left in the shared state.
void CMainFrame::RecordJob(uint32_t code, const NotificationRoute& r, const std::string& report) {
    if (code == NOTIFY_HISTORY_REFUSED) {
        // The refused job tries the database again, for the user's next attempt.
        recording_->OnNotification(code, "");
        messages_.Show(FillPlaceholders(Texts().GetSilently(IDS_HISTORY_REFUSED), {historyRefusal_}),
                       Texts().Get(IDS_APP_TITLE), MbIcon::None, MbButtons::Ok);
        return;
    }
    std::string failure;
    if (r.box == NotificationRoute::Box::CommunicationError) {
        failure = Texts().Get(IDS_COMMUNICATION_ERROR) + (report.empty() ? "" : "\n" + report);
    } else if (r.box == NotificationRoute::Box::BaudrateError) {
        failure = TextSource::Builtin(IDS_BAUDRATE_ERROR);
    }
    recording_->OnNotification(code, failure);
}

// Every action that needed the baud-rate test is told of here, so the speed is stored within one
// notification of being found. A file that cannot be written is said as at start-up; the speed is
// still tried first for the rest of the run.
void CMainFrame::RememberFoundSpeed() {
    const int32_t found = BaudIndexToRemember(s_.link);
    if (found == 0) return;
    s_.link.PreferredBaudIndex.store(found);
    std::string error;
    if (!WriteRememberedSpeed(folder_, PortDevicePath(s_.link), BaudRateOf(found), &error))
        std::cerr << "qln: " << error << "\n";
}
