#pragma once
#include <cstdint>

namespace valve {

// Command bytes the valve's own code refers to. Parameter reads and writes, and the settings
// kept in Registers, come from their tables.
enum Cmd : uint8_t {
    CMD_KPR = 2,
    CMD_TIR = 4,
    CMD_TDR = 6,
    CMD_DBR = 8,
    CMD_PSR = 12,
    CMD_SOR = 24,
    CMD_PMR = 26,
    CMD_SLR = 49,
    CMD_FOR = 51,
    CMD_FGR = 53,
    CMD_ILR = 55,
    CMD_LSR = 61,
    CMD_SHR = 63,
    CMD_TLR = 69,
    CMD_IPR = 75,
    CMD_CAR = 97,
    CMD_CCS = 100,
    CMD_CCR = 101,
    CMD_CER = 105,
    CMD_CFR = 107,

    CMD_VER = 35,
    CMD_SAS = 36,
    CMD_STS = 37,
    CMD_RTS = 38,
    CMD_TAS = 40,
    CMD_PAS = 41,
    CMD_SCS = 80,
    CMD_TCS = 81,
    CMD_VTR = 82,
    CMD_CRR = 95,
    CMD_STR = 108,
    CMD_LER = 110,
    CMD_DIR = 112,
    CMD_OCR = 113,
    CMD_ARS = 115,
    CMD_WAS = 116,
    CMD_WAR = 117,
    CMD_APS = 145,
};

} // namespace valve
