#pragma once
#include "link/LinkState.h"

// The three link threads. Each runs until its run-state is set to RUN_STOP_REQUESTED and then
// reports RUN_STOPPED. MainCtrlThread stops the other three (given the engine's run-state too).
// Each blocks until what it waits for has been raised or its deadline has passed.
void MainCtrlThread(LinkState& s);
void WriteComThread(LinkState& s);
void ReadComThread(LinkState& s);

// One supervisor step and the link's millisecond tick; exposed for tests.
void SupervisorStep(LinkState& s);
void LinkTick(LinkState& s);
// Counts the time since the last tick off the link timers, without counting a supervisor pass.
void CatchUpLinkTimers(LinkState& s);
// Starts link timer `timer` with `ms` milliseconds from now.
void StartLinkTimer(LinkState& s, int timer, int32_t ms);
// How long until the first of the running timers first..last expires; IClock::FOREVER if none
// runs. Current as of the last tick.
uint32_t NextLinkTimerMs(const LinkState& s, int first, int last);
// Takes a complete reply of ExpectedLength bytes from the ring into ReplyBuffer, if there is one.
bool ExtractReply(LinkState& s);
// One pass of the receiver: blocks until the port or the wake-up descriptor has something, then
// moves received bytes into the ring; exposed for tests.
void ReceiverPass(LinkState& s);
