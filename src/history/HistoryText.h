#pragma once
// The history's texts where secrets and other programs are at stake: targets as messages name them,
// what a target may hold, and an entry's texts as every database stores them.
#include <string>

// `text` (a target, or what was given as one) with every password-like value masked: the value of
// each key that ends in "password" (password=, sslpassword=, in any case or percent-encoding) and
// the password of a user:password@. For every message that names a target, also one that could
// not be parsed.
std::string MaskHistoryTarget(const std::string& text);
// Whether a PostgreSQL target holds a password (what MaskHistoryTarget masks), however empty.
bool HistoryTargetHoldsPassword(const std::string& uri);
// Why a SQLite path cannot be handed to the database library safely (a quotation mark or a
// control character would end its value in the connection string, a leading blank is misread
// there), or "" when it can.
std::string SqlitePathProblem(const std::string& path);
// The text as every database stores it: valid UTF-8 without NUL (bytes that are not UTF-8, and
// NUL, as \xNN), so a device path with such a byte is never refused by the server.
std::string StorableHistoryText(const std::string& text);
