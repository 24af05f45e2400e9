#pragma once
#include <array>
#include <cstdint>

#include "engine/DeviceRecords.h"
#include "params/ParameterBlock.h"

// How a parameter telegram's value byte relates to its field(s).
enum class Conv : uint8_t {
    Plain,    // b; write the value's low 8 bits
    Scaled,   // b x readFactor; write value x writeFactor + rounding, truncated
    Offset,   // b - add; write value + add
    Limited,  // b when b <= limit, else the field keeps its value
    Bits,     // bit groups
    ReadOnly, // b - add, never written
};

// One bit group of a packed byte. A group of width w holds its field's value when it lies in
// 1..2^w-1 and 0 otherwise; an inverted one-bit flag is set when its field is 0.
struct BitGroup {
    uint16_t offset;
    uint8_t shift;
    uint8_t width;
    bool inverted;
};

struct ParamRow {
    const char* readName;
    uint8_t readCmd;
    const char* writeName; // nullptr: the valve's value is only read
    uint8_t writeCmd;
    Conv conv;
    uint16_t offset; // the field of every kind but Bits
    double readFactor;
    double writeFactor;
    double rounding;
    int32_t add;           // Offset and ReadOnly: the bias; Limited: the largest accepted value
    bool writeAsFlag;      // Limited: send 1 when the field is 1, else 0
    bool heldUntilCcr;     // FOR and FGR take effect with the CCR reply of the same read
    bool testFunctionBits; // CCR/CCS: bits 6..7 carry the test function
    uint8_t groupCount;
    std::array<BitGroup, 8> groups;
};

constexpr int PARAM_ROW_COUNT = 36;
constexpr int PARAM_WRITE_COUNT = 34;
const std::array<ParamRow, PARAM_ROW_COUNT>& ParamRows();

// Values of FOR and FGR waiting for the CCR reply of the same read.
struct ParamReadHold {
    bool haveForwardOffset = false;
    bool haveForwardGain = false;
    int32_t forwardOffset = 0;
    float forwardGain = 0;
};

// The data byte of the row's write telegram, from the working block.
uint8_t ParamWriteData(const ParamRow& row, const ParameterBlock& edit, const TestFunctionData& tf);
// Stores a read reply's value byte into the block last read from the valve.
void ParamDecode(const ParamRow& row, uint8_t b, ParameterBlock& valve, ParamReadHold& hold,
                 TestFunctionData& tf);

// value x factor + rounding, truncated toward zero, low 8 bits; non-finite values send 0.
uint8_t ScaledWriteByte(double value, double factor, double rounding);
uint8_t PackBits(const ParamRow& row, const ParameterBlock& b);
void UnpackBits(const ParamRow& row, uint8_t byte, ParameterBlock& b);
// The CCS byte: controller structure, range detection and auto zero from the block, bits 6..7
// the test function selection (1..3, else 0).
uint8_t ControllerConfigByte(const ParameterBlock& edit, int32_t testFunctionSelection);
// The CAS byte of the working block (its bit 6 selects the custom or factory set).
uint8_t ConfigurationByte(const ParameterBlock& edit);

// Information and status telegrams.
struct InfoTelegram {
    const char* name;
    uint8_t cmd;
    uint8_t replyLength;
};
constexpr InfoTelegram DIR{"DIR", 112, 12};
constexpr InfoTelegram VER{"VER", 35, 3};
constexpr InfoTelegram OCR{"OCR", 113, 10};
constexpr InfoTelegram VTR{"VTR", 82, 3};
constexpr InfoTelegram CTR{"CTR", 84, 3};
constexpr InfoTelegram STR{"STR", 108, 3};
constexpr InfoTelegram LER{"LER", 110, 3};
constexpr InfoTelegram CAS{"CAS", 96, 1};

// Decoders of whole replies (byte 0 is STX).
void DecodeDeviceRecord(const uint8_t* reply, DeviceInfo& info);  // DIR, 12 bytes
void DecodeCounterRecord(const uint8_t* reply, DeviceInfo& info); // OCR, 10 bytes
void DecodeStatusByte(uint8_t b, StatusInfo& status);             // STR
void DecodeLedByte(uint8_t b, StatusInfo& status);                // LER
