#include "engine/DeviceCommands.h"

#include <algorithm>
#include <iterator>

namespace {
constexpr int TEST_FUNCTION_SHIFT = 6;

int32_t ValidSelection(int32_t selection) {
    return selection >= 1 && selection <= 3 ? selection : 0;
}
} // namespace

uint8_t ControllerConfigByte(const ParameterBlock& edit, int32_t testFunctionSelection) {
    return static_cast<uint8_t>(ParamTelegramByte(ParamTelegram::CCR, edit) |
                                (ValidSelection(testFunctionSelection) << TEST_FUNCTION_SHIFT));
}

uint8_t ControllerConfigByte(uint8_t valveByte, int32_t testFunctionSelection) {
    constexpr uint8_t CONTROLLER_BITS = (1u << TEST_FUNCTION_SHIFT) - 1;
    return static_cast<uint8_t>((valveByte & CONTROLLER_BITS) |
                                (ValidSelection(testFunctionSelection) << TEST_FUNCTION_SHIFT));
}

uint8_t ConfigurationByte(const ParameterBlock& edit) {
    return ParamTelegramByte(ParamTelegram::CAR, edit);
}

uint8_t ParamWriteData(ParamTelegram t, const ParameterBlock& edit, const TestFunctionData& tf) {
    if (TelegramInfo(t).carriesTestFunction) return ControllerConfigByte(edit, tf.Selection);
    return ParamTelegramByte(t, edit);
}

void ParamDecode(ParamTelegram t, uint8_t b, ParameterBlock& valve, ParamReadHold& hold,
                 TestFunctionData& tf) {
    DecodeParamTelegram(t, b, valve, hold);
    if (TelegramInfo(t).carriesTestFunction) {
        tf.ReadBack = (b >> TEST_FUNCTION_SHIFT) & 3;
        tf.ReadBackValid = 1;
    }
}

ParamTelegram WriteTelegram(uint32_t index) {
    uint32_t k = 0;
    for (int i = 0; i < PARAM_TELEGRAM_COUNT; ++i)
        if (ParamTelegrams()[static_cast<size_t>(i)].writeName && k++ == index)
            return static_cast<ParamTelegram>(i);
    return ParamTelegram::KPR;
}

void DecodeIdentityRecord(const uint8_t* r, ValveIdentity& identity) {
    for (int i = 0; i < 3; ++i) {
        identity.PartNumberDigit[2 * i] = r[1 + i] >> 4;
        identity.PartNumberDigit[2 * i + 1] = r[1 + i] & 0x0F;
    }
    identity.PartNumberVariant = (r[4] << 8) | r[5];
    identity.SerialNumber = (r[6] << 16) | (r[7] << 8) | r[8];
}

void DecodeDeviceRecord(const uint8_t* r, DeviceInfo& info) {
    ValveIdentity identity{};
    DecodeIdentityRecord(r, identity);
    std::copy(std::begin(identity.PartNumberDigit), std::end(identity.PartNumberDigit), info.PartNumberDigit);
    info.PartNumberVariant = identity.PartNumberVariant;
    info.SerialNumber = identity.SerialNumber;
    info.ProductionYear = r[9];
    info.ProductionWeek = r[10];
}

void DecodeCounterRecord(const uint8_t* r, DeviceInfo& info) {
    info.OperationCounter = (r[1] << 16) | (r[2] << 8) | r[3];
    info.CalibrationCounter = r[4];
    info.CalibrationYear = r[5];
    info.CalibrationMonth = r[6];
    info.CalibrationDay = r[7];
    info.CalibrationStatus = r[8];
}

void DecodeStatusByte(uint8_t b, StatusInfo& s) {
    auto bit = [b](int n) { return (b >> n) & 1; };
    s.Overvoltage = bit(7) ? 2 : 1;
    s.Undervoltage = bit(6) ? 2 : 1;
    s.Overtemperature = bit(5) ? 2 : 1;
    s.DigitalOutput = bit(4) ? 1 : 2;
    s.Jumper = bit(3) ? 1 : 2;
    s.KeyLock = bit(2) ? 2 : 1;
    s.ManualSetpoint = bit(1) ? 2 : 1;
    s.Reserve = bit(0) ? 2 : 1;
}

void DecodeLedByte(uint8_t b, StatusInfo& s) {
    s.LedRed = (b >> 4) & 3;
    s.LedGreen = b & 3;
    s.LedYellow = (b >> 2) & 3;
}
