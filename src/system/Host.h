#pragma once
#include <ctime>
#include <string>

// The machine and the user the program runs for.

// The system's text for an error code (errno values), safe from any thread.
std::string SystemErrorText(int err);
// The folder the program was started in ("" when the system cannot tell), without a trailing '/'.
std::string ProgramFolder();
// The name of the process's real user in the user database (not $USER, which anyone can set);
// its number when the database has no name for it.
std::string CurrentUserName();
// The machine's name on the network ("" when the system cannot tell).
std::string HostName();
// `when` in the user's time zone; false when it cannot be converted.
bool LocalTime(std::time_t when, std::tm* local);
// Whether the standard error stream goes to a terminal (a person watches it).
bool StderrIsTerminal();
// This process's id, and whether a process with that id runs on this machine.
long CurrentProcessId();
bool ProcessRuns(long pid);
