#pragma once
#include <array>
#include <cstdint>

#include "engine/DeviceRecords.h"
#include "params/ParameterTable.h"

// The parameter telegrams come from the parameter table (params/ParameterTable.h); here they meet
// the test function record, whose selection and read-back travel in bits 6..7 of the CCS/CCR byte.

constexpr int PARAM_WRITE_COUNT = 34;

// The data byte of a parameter write telegram, from the working block.
uint8_t ParamWriteData(ParamTelegram t, const ParameterBlock& edit, const TestFunctionData& tf);
// Stores a read reply's value byte into the block last read from the valve (and the test function
// read-back for CCR).
void ParamDecode(ParamTelegram t, uint8_t b, ParameterBlock& valve, ParamReadHold& hold,
                 TestFunctionData& tf);
// The write telegram `index` (0..33) of a full write, in table order.
ParamTelegram WriteTelegram(uint32_t index);

// The CCS byte: controller structure, range detection and auto zero from the block, bits 6..7
// the test function selection (1..3, else 0).
uint8_t ControllerConfigByte(const ParameterBlock& edit, int32_t testFunctionSelection);
// The same with the valve's own controller bits 0..5, as its CCR reply gave them.
uint8_t ControllerConfigByte(uint8_t valveByte, int32_t testFunctionSelection);
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
void DecodeDeviceRecord(const uint8_t* reply, DeviceInfo& info); // DIR, 12 bytes
// The part of the DIR reply that names the valve: part and serial number.
void DecodeIdentityRecord(const uint8_t* reply, ValveIdentity& identity);
void DecodeCounterRecord(const uint8_t* reply, DeviceInfo& info); // OCR, 10 bytes
void DecodeStatusByte(uint8_t b, StatusInfo& status);             // STR
void DecodeLedByte(uint8_t b, StatusInfo& status);                // LER
