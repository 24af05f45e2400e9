#pragma once
#include <cstdint>

#include "ValveTypes.h"

namespace valve {

// Faults to put on the line, for testing the program's error handling. 0 switches a fault off.
struct FaultOptions {
    bool silent = false;       // never answer
    uint32_t dropEvery = 0;    // every Nth reply is not sent (the request is carried out)
    uint32_t nakEvery = 0;     // every Nth request is refused with NAK (and not carried out)
    uint32_t badBccEvery = 0;  // every Nth reply with a BCC has a wrong one
    uint32_t garbageEvery = 0; // every Nth reply comes after a few junk bytes
};

enum class Fault { None, Drop, Nak };

class FaultInjector {
public:
    explicit FaultInjector(const FaultOptions& o, uint32_t seed = 1) : o_(o), rng_(seed == 0 ? 1 : seed) {}

    // Decided before a request is carried out, so that a refused request changes nothing.
    Fault Decide();
    // The reply as it goes onto the line: with a wrong BCC or junk in front where due.
    Bytes Shape(Bytes reply);

private:
    static bool Due(uint32_t every, uint32_t count) { return every != 0 && count % every == 0; }
    uint8_t JunkByte();

    FaultOptions o_;
    uint32_t requests_ = 0;
    uint32_t checked_ = 0;
    uint32_t replies_ = 0;
    uint32_t rng_;
};

} // namespace valve
