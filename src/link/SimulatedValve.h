#pragma once
#include "link/LinkState.h"

// The built-in stand-in for a valve in test mode: looks at the telegram in TransmitBuffer and
// appends a canned reply to the receive ring. Runs on the supervisor thread.
void SimulatedValveAnswer(LinkState& s);
