#pragma once
#include <cstddef>

// Where the records of a project file lie. A project file is the raw image of seven fixed-size
// records, one after the other, without header: a file format shared with every installation that
// ever saved a project, so these numbers never change.
struct ProjectRecord {
    size_t offset;
    size_t size;
};

constexpr ProjectRecord PROJECT_INFO_RECORD{0, 872};
constexpr ProjectRecord SERIAL_SETPOINT_RECORD{872, 408};
constexpr ProjectRecord EDIT_BLOCK_RECORD{1280, 620}; // the working ParameterBlock
constexpr ProjectRecord SCOPE_SETUP_RECORD{1900, 512};
constexpr ProjectRecord CALIBRATION_RECORD{2412, 7532};
constexpr ProjectRecord DEVICE_INFO_RECORD{9944, 480};
constexpr ProjectRecord SAMPLE_BUFFER_RECORD{10424, 163200};
constexpr size_t PROJECT_FILE_SIZE = 173624;

static_assert(SERIAL_SETPOINT_RECORD.offset == PROJECT_INFO_RECORD.offset + PROJECT_INFO_RECORD.size);
static_assert(EDIT_BLOCK_RECORD.offset == SERIAL_SETPOINT_RECORD.offset + SERIAL_SETPOINT_RECORD.size);
static_assert(SCOPE_SETUP_RECORD.offset == EDIT_BLOCK_RECORD.offset + EDIT_BLOCK_RECORD.size);
static_assert(CALIBRATION_RECORD.offset == SCOPE_SETUP_RECORD.offset + SCOPE_SETUP_RECORD.size);
static_assert(DEVICE_INFO_RECORD.offset == CALIBRATION_RECORD.offset + CALIBRATION_RECORD.size);
static_assert(SAMPLE_BUFFER_RECORD.offset == DEVICE_INFO_RECORD.offset + DEVICE_INFO_RECORD.size);
static_assert(PROJECT_FILE_SIZE == SAMPLE_BUFFER_RECORD.offset + SAMPLE_BUFFER_RECORD.size);
