#pragma once

// Asks the system to run the calling thread `steps` above (negative: below) the normal priority.
// Raising needs privileges; where the system refuses, the thread keeps its priority.
void RequestThreadPriority(int steps);
