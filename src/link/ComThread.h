#pragma once
#include "link/LinkState.h"

// The three link threads. Each runs until its run-state is set to RUN_STOP_REQUESTED and then
// reports RUN_STOPPED. MainCtrlThread stops the other three (given the engine's run-state too).
void MainCtrlThread(LinkState& s);
void WriteComThread(LinkState& s);
void ReadComThread(LinkState& s);

// One supervisor step and the link's millisecond tick; exposed for tests.
void SupervisorStep(LinkState& s);
void LinkTick(LinkState& s);
// Takes a complete reply of ExpectedLength bytes from the ring into ReplyBuffer, if there is one.
bool ExtractReply(LinkState& s);
// One pass of the receiver (without its sleep); exposed for tests.
void ReceiverPass(LinkState& s);
