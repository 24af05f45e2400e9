#pragma once
// The history command: the valve history's entries, one entry's set, the differences between two
// sets, and an entry's set taken into a project.
#include <string>

struct CommandContext;
struct Options;

// What the words after `history` say: nothing (the list), show ID, diff ID (ID2 | FILE.QPJ) or
// take ID FILE.QPJ. "" or the usage error.
std::string CheckHistoryArgs(const Options& o);

int RunHistory(CommandContext& c);
