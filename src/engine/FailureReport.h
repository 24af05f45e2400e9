#pragma once
#include <cstdint>
#include <string>

#include "engine/QlnState.h"
#include "text/Texts.h"

// What the user is told after an action failed: what happened on the line and, for a parameter
// write, what the valve now holds. The window's message box and qln-cli say the same.

// The paragraph for how the last exchange failed; "" when nothing is known.
std::string LineFailureText(LineFailure failure, const TextSource& texts);

// For a parameter write that sent telegrams and did not complete: how many values the valve confirmed
// and what to do. "" when `acked` says the write sent nothing (-1) or
// completed.
std::string WriteOutcomeText(int32_t acked, const TextSource& texts);

// While the valve may be following the PC's serial setpoint (an STS went out and no RTS has been
// acknowledged since): that it may, and how to end it. "" otherwise.
std::string SerialSetpointText(const QlnState& s, const TextSource& texts);

// For a test function write that failed before it could read the valve's controller settings:
// that nothing was written. "" otherwise.
std::string TestFunctionText(const QlnState& s, const TextSource& texts);

// All of them, from the shared state, as paragraphs separated by a blank line.
std::string FailureReport(const QlnState& s, const TextSource& texts);
