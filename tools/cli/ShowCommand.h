#pragma once
// show: a project file printed without touching a valve.

struct CommandContext;

int RunShow(CommandContext& c);
