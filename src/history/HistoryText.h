#pragma once
// The history's texts where secrets and other programs are at stake: targets as messages name them,
// and what a target may hold.
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
