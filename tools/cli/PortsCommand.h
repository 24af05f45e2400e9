#pragma once
// ports: the serial devices a valve can be plugged into, without opening any of them.

struct CommandContext;

int RunPorts(CommandContext& c);
