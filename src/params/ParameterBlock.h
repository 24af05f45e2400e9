#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The valve's parameter set: a fixed 620-byte record of 155 little-endian 32-bit slots. Project
// files store it byte for byte, so its layout is a file format.
struct ParameterBlock {
    int32_t BLOCK_VALID;
    int32_t PARAMETER_SET;
    int32_t FORWARD_OFFSET;
    float FORWARD_GAIN;
    float PROPORTIONAL_GAIN;
    float INTEGRATION_TIME;
    int32_t INTEGRATION_LIMIT;
    float DEAD_BAND;
    int32_t DERIVATION_TIME;
    int32_t PWM_FREQUENCY;
    int32_t CONTROL_CYCLE_TIME;
    int32_t CONTROLLER_STRUCTURE;
    int32_t SETPOINT_SIGNAL;
    int32_t SETPOINT_DIRECTION;
    int32_t SHUT_OFF;
    float SHUT_OFF_LEVEL;
    int32_t SETPOINT_ADJUSTMENT;
    int32_t SETPOINT_OFFSET;
    int32_t SETPOINT_SPAN;
    int32_t SETPOINT_SELECTION;
    int32_t RAMP_FUNCTION;
    float RAMP_RISE_TIME;
    float RAMP_FALL_TIME;
    int32_t ANALOG_OUT_SELECT;
    int32_t FEEDBACK_SELECT;
    int32_t AUTO_ZERO_FEEDBACK;
    int32_t AUTO_ZERO_VALUE;
    int32_t ANALOG_IN_2_SIGNAL;
    int32_t ANALOG_IN_2_DIRECTION;
    int32_t AUTOSAFE;
    int32_t OVERTEMPERATURE;
    int32_t OVERTEMPERATURE_LIMIT;
    int32_t AUTOSAFE_SOURCE;
    int32_t CURRENT_LIMIT_LEVEL;
    int32_t OPTION_INPUT_PRESSURE_SENSOR;
    int32_t INPUT_PRESSURE_LIMIT;
    int32_t DELAY_TIME;
    int32_t COIL_ON_TIME;
    int32_t COIL_OFF_TIME;
    int32_t SELECT_FUNCTION;
    int32_t SELECT_POLARITY;
    int32_t DISPLAY_SELECT;
    int32_t KEY_LOCK;
    int32_t KEY_FUNCTION;
    int32_t LED_YELLOW;
    int32_t LED_GREEN;
    int32_t LED_RED;
    int32_t PRESSURE_SWITCH_OUTPUT_SOURCE;
    float OUTPUT_DELAY;
    int32_t OUTPUT_MODE;
    float WINDOW_SIZE;
    float LIMIT_SIZE;
    float LIMIT_HYSTERESIS;
    int32_t ERROR_SELECT;
    int32_t SETPOINT_RANGE_DETECTION;
    int32_t I_VALUE;
    int32_t RESERVED_224;
    float SLAVE_GAIN;
    int32_t I_SEARCH;
    int32_t I_SEARCH_RAMPTIME;
    int32_t I_SEARCH_FEEDBACK_THRESHOLD;
    int32_t AUTO_ZERO_DP_FEEDBACK;
    int32_t AUTO_ZERO_DP_VALUE;
    uint8_t RESERVED_252[368];
};

static_assert(sizeof(float) == 4 && sizeof(ParameterBlock) == 620, "the record is 620 bytes");

#define QLN_CHECK_OFFSET(field, offset)                                                                      \
    static_assert(offsetof(ParameterBlock, field) == (offset), #field " must lie at " #offset)
QLN_CHECK_OFFSET(BLOCK_VALID, 0);
QLN_CHECK_OFFSET(PARAMETER_SET, 4);
QLN_CHECK_OFFSET(FORWARD_OFFSET, 8);
QLN_CHECK_OFFSET(FORWARD_GAIN, 12);
QLN_CHECK_OFFSET(PROPORTIONAL_GAIN, 16);
QLN_CHECK_OFFSET(INTEGRATION_TIME, 20);
QLN_CHECK_OFFSET(INTEGRATION_LIMIT, 24);
QLN_CHECK_OFFSET(DEAD_BAND, 28);
QLN_CHECK_OFFSET(DERIVATION_TIME, 32);
QLN_CHECK_OFFSET(PWM_FREQUENCY, 36);
QLN_CHECK_OFFSET(CONTROL_CYCLE_TIME, 40);
QLN_CHECK_OFFSET(CONTROLLER_STRUCTURE, 44);
QLN_CHECK_OFFSET(SETPOINT_SIGNAL, 48);
QLN_CHECK_OFFSET(SETPOINT_DIRECTION, 52);
QLN_CHECK_OFFSET(SHUT_OFF, 56);
QLN_CHECK_OFFSET(SHUT_OFF_LEVEL, 60);
QLN_CHECK_OFFSET(SETPOINT_ADJUSTMENT, 64);
QLN_CHECK_OFFSET(SETPOINT_OFFSET, 68);
QLN_CHECK_OFFSET(SETPOINT_SPAN, 72);
QLN_CHECK_OFFSET(SETPOINT_SELECTION, 76);
QLN_CHECK_OFFSET(RAMP_FUNCTION, 80);
QLN_CHECK_OFFSET(RAMP_RISE_TIME, 84);
QLN_CHECK_OFFSET(RAMP_FALL_TIME, 88);
QLN_CHECK_OFFSET(ANALOG_OUT_SELECT, 92);
QLN_CHECK_OFFSET(FEEDBACK_SELECT, 96);
QLN_CHECK_OFFSET(AUTO_ZERO_FEEDBACK, 100);
QLN_CHECK_OFFSET(AUTO_ZERO_VALUE, 104);
QLN_CHECK_OFFSET(ANALOG_IN_2_SIGNAL, 108);
QLN_CHECK_OFFSET(ANALOG_IN_2_DIRECTION, 112);
QLN_CHECK_OFFSET(AUTOSAFE, 116);
QLN_CHECK_OFFSET(OVERTEMPERATURE, 120);
QLN_CHECK_OFFSET(OVERTEMPERATURE_LIMIT, 124);
QLN_CHECK_OFFSET(AUTOSAFE_SOURCE, 128);
QLN_CHECK_OFFSET(CURRENT_LIMIT_LEVEL, 132);
QLN_CHECK_OFFSET(OPTION_INPUT_PRESSURE_SENSOR, 136);
QLN_CHECK_OFFSET(INPUT_PRESSURE_LIMIT, 140);
QLN_CHECK_OFFSET(DELAY_TIME, 144);
QLN_CHECK_OFFSET(COIL_ON_TIME, 148);
QLN_CHECK_OFFSET(COIL_OFF_TIME, 152);
QLN_CHECK_OFFSET(SELECT_FUNCTION, 156);
QLN_CHECK_OFFSET(SELECT_POLARITY, 160);
QLN_CHECK_OFFSET(DISPLAY_SELECT, 164);
QLN_CHECK_OFFSET(KEY_LOCK, 168);
QLN_CHECK_OFFSET(KEY_FUNCTION, 172);
QLN_CHECK_OFFSET(LED_YELLOW, 176);
QLN_CHECK_OFFSET(LED_GREEN, 180);
QLN_CHECK_OFFSET(LED_RED, 184);
QLN_CHECK_OFFSET(PRESSURE_SWITCH_OUTPUT_SOURCE, 188);
QLN_CHECK_OFFSET(OUTPUT_DELAY, 192);
QLN_CHECK_OFFSET(OUTPUT_MODE, 196);
QLN_CHECK_OFFSET(WINDOW_SIZE, 200);
QLN_CHECK_OFFSET(LIMIT_SIZE, 204);
QLN_CHECK_OFFSET(LIMIT_HYSTERESIS, 208);
QLN_CHECK_OFFSET(ERROR_SELECT, 212);
QLN_CHECK_OFFSET(SETPOINT_RANGE_DETECTION, 216);
QLN_CHECK_OFFSET(I_VALUE, 220);
QLN_CHECK_OFFSET(RESERVED_224, 224);
QLN_CHECK_OFFSET(SLAVE_GAIN, 228);
QLN_CHECK_OFFSET(I_SEARCH, 232);
QLN_CHECK_OFFSET(I_SEARCH_RAMPTIME, 236);
QLN_CHECK_OFFSET(I_SEARCH_FEEDBACK_THRESHOLD, 240);
QLN_CHECK_OFFSET(AUTO_ZERO_DP_FEEDBACK, 244);
QLN_CHECK_OFFSET(AUTO_ZERO_DP_VALUE, 248);
QLN_CHECK_OFFSET(RESERVED_252, 252);
#undef QLN_CHECK_OFFSET

enum class FieldType { Int, Float };

// One named field of the block: where it lies, how it is shown and what the editor allows.
struct ParameterField {
    const char* name;
    uint16_t offset;
    FieldType type;
    const char* unit;   // "" when the value is a selection
    const char* format; // printf format of the value, "" for selections shown by index
    double min, max, step;
    double def; // the defaults column; NaN-free, read-only values default to 0
};

// Every named field in record order (the reserved areas excluded).
const std::array<ParameterField, 62>& ParameterFields();
const ParameterField* FindParameterField(const std::string& name);

int32_t GetInt(const ParameterBlock& b, uint16_t offset);
float GetFloat(const ParameterBlock& b, uint16_t offset);
void SetInt(ParameterBlock& b, uint16_t offset, int32_t v);
void SetFloat(ParameterBlock& b, uint16_t offset, float v);
// The field's value as a double, whatever its type.
double GetValue(const ParameterBlock& b, const ParameterField& f);
// The value in its display format ("1.00", "-50"), without unit.
std::string FormatValue(const ParameterBlock& b, const ParameterField& f);

// The selection text of a field's value ("PI-Controller"), or "" when the field is a number or
// the value is outside the list.
std::string OptionText(const ParameterField& f, int32_t value);

// A block holding the defaults column.
ParameterBlock DefaultParameterBlock();

// The three instances: last read from the valve, being edited, defaults from the settings file.
struct ParameterBlocks {
    ParameterBlock ValveBlock{};
    ParameterBlock EditBlock{};
    ParameterBlock IniBlock{};
    uint8_t VisibilityFlags[57] = {};
    uint8_t WriteEnabled = 0;
};
