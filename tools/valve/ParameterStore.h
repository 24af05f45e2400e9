#pragma once
#include <array>
#include <optional>
#include <span>

#include "ValveTypes.h"

namespace valve {

// One parameter command of the valve: read command and name, write name (the write command is one
// less; nullptr for values the valve only reports), value = byte x factor + bias, and the bytes of
// the two sets as delivered.
struct ParameterCommand {
    const char* readName;
    uint8_t readCmd;
    const char* writeName;
    double factor;
    int bias;
    uint8_t factory;
    uint8_t custom;
    uint8_t WriteCmd() const { return static_cast<uint8_t>(readCmd - 1); }
};

// The valve's two parameter sets, custom and factory, each as the value bytes its read commands
// return. The configuration byte (CAS/CAR) chooses with bit 6 which set reads and writes use,
// and the controller configuration (CCS/CCR) carries the test function in bits 6 and 7; both
// are kept apart from the sets.
class ParameterStore {
public:
    static constexpr uint8_t CAS_CMD = 96;
    static constexpr uint8_t CAR_CMD = 97;
    static constexpr uint8_t CCS_CMD = 100;
    static constexpr uint8_t CCR_CMD = 101;
    static constexpr uint8_t CUSTOM_SET_BIT = 0x40;

    ParameterStore();

    static std::span<const ParameterCommand> Commands();
    // The command whose read command this is; nullptr for other commands.
    static const ParameterCommand* OfRead(uint8_t cmd);

    // The reply byte of a read command, from the selected set.
    uint8_t Read(uint8_t readCmd) const;
    // Stores the data byte of a write command in the selected set.
    void Write(uint8_t writeCmd, uint8_t data);

    // The selected set's value of a read command, as the program shows it (scaled, offset).
    double Value(uint8_t readCmd) const;
    uint8_t Raw(uint8_t readCmd) const { return sets_[Selected()][readCmd]; }
    void SetRaw(uint8_t readCmd, uint8_t b) { sets_[Selected()][readCmd] = b; }
    // One bit group of a packed byte of the selected set.
    int Bits(uint8_t readCmd, int shift, int width) const {
        return (Raw(readCmd) >> shift) & ((1 << width) - 1);
    }

    bool CustomSelected() const { return custom_; }
    int TestFunction() const { return testFunction_; }

private:
    enum Set { FACTORY = 0, CUSTOM = 1 };
    size_t Selected() const { return custom_ ? CUSTOM : FACTORY; }

    std::array<std::array<uint8_t, 256>, 2> sets_{};
    bool custom_ = true;
    int testFunction_ = 0;
};

} // namespace valve
