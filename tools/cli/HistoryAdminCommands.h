#pragma once
// The history's administration: setting a line's database up, verifying its chain, and what waits
// in this folder's outbox.
struct CommandContext;
class HistoryStore;

// Exit status of `history verify` when the chain does not hold.
constexpr int EXIT_CHAIN_BROKEN = 12;

int RunHistorySetup(CommandContext& c);
int RunHistoryVerify(CommandContext& c, HistoryStore& store);
int RunHistoryOutbox(CommandContext& c);
