#pragma once
#include <cstdint>

#include "engine/QlnState.h"

// Whether the window must send the hard stop after the engine's notification `code`: a recording,
// or the stop of one, that ended in a communication error may have left the valve streaming, and
// a streaming valve answers nothing else. A hard stop that failed is not repeated by itself: the
// user can stop again. (qln-cli, which starts its recordings itself, follows every failed one with
// the hard stop.)
inline bool HardStopNeeded(uint32_t code, const QlnState& s) {
    const bool lineFailed =
        code == NOTIFY_SEND_FAILURE || code == NOTIFY_REPLY_TIMEOUT || code == NOTIFY_BAD_REPLY;
    return lineFailed && s.link.ValveMayStream.load() == 1;
}
