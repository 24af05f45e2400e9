#include "text/Texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

// The program's own string table, sorted by id. Texts are UTF-8 and kept exactly as the program
// shows them, odd spellings and padding blanks included: status panes and message boxes are laid
// out with those blanks, and translations are checked against these texts.
//
// Ids 5, 11, 14-18, 20-24, 37, 85-90, 103, 117, 118, 131, 135, 142, 169, 172 and 343 are not shown by
// any window of this version; they carry short neutral texts so that every id from 1 to 374 exists
// and a translation can be checked for completeness.
// clang-format off
constexpr BuiltinTextEntry TEXTS[] = {
    {1, "Data's are changed. Do you really want to cancel?"},
    {2, "Serial Port"},
    {3, "Project: MMMMMMMMMMMMMMMMMMMMMMMM"},
    {4, "File: "},
    {5, "Warning"},
    {6, "ERROR"},
    {7, "OK"},
    {8, "--"},
    {9, "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"},
    {10, "Project: "},
    {11, "Information"},
    {12, "Yes"},
    {13, "No"},
    {14, "Value"},
    {15, "Unit"},
    {16, "Status"},
    {17, "Error"},
    {18, "Ready"},
    {19, "NO"},
    {20, "Busy"},
    {21, "Please wait ..."},
    {22, "Done"},
    {23, "Failed"},
    {24, "Retry"},
    {25, "Could not open File\n"},
    {26, "Open Project"},
    {27, "No Project is open"},
    {28, "Save Project"},
    {29, "New Project"},
    {30, "Project Info"},
    {31, "UNKNOWN"},
    {32, "Do you want to save the modified project ? "},
    {33, "Character not allowed! "},
    {34, "Cannot start print job !"},
    {35, "On"},
    {36, "Off"},
    {37, "Help"},
    {38, "Com Port"},
    {39, "Cancel"},
    {40, "Project"},
    {41, "File Name:"},
    {42, "Project Name:"},
    {43, "Project Version:"},
    {44, "Company:"},
    {45, "Name:"},
    {46, "Address:"},
    {47, "City:"},
    {48, "Phone / Fax:"},
    {49, "Email:"},
    {50, "Project Files"},
    {51, "All Files"},
    {52, "Select Print"},
    {53, "Print Object"},
    {54, "All"},
    {55, "Parameters"},
    {56, "Scope View"},
    {57, "Page"},
    {58, "Print-Date:"},
    {59, "Time:"},
    {60, "Scope Setup"},
    {61, "Analog Channel 1"},
    {62, "Analog Channel 2"},
    {63, "Analog Channel 3"},
    {64, "Analog Channel 4"},
    {65, "Binary Channel 1"},
    {66, "Binary Channel 2"},
    {67, "Binary Channel 3"},
    {68, "Binary Channel 4"},
    {69, "None (Roll Mode)"},
    {70, "Channel"},
    {71, "Trigger"},
    {72, "Slope"},
    {73, "Falling"},
    {74, "Rising"},
    {75, "Value / %"},
    {76, "Sample Rate / msec"},
    {77, "Mode"},
    {78, "Step Mode"},
    {79, "Ramp Mode"},
    {80, "Trigger Mode"},
    {81, "Setpoint Begin / %"},
    {82, "Setpoint End / %"},
    {83, "Ramp Time / sec"},
    {84, "Calibration"},
    {85, "Start Calibration"},
    {86, "Check Calibration"},
    {87, "Calibration running ..."},
    {88, "Calibration finished"},
    {89, "Calibration failed"},
    {90, "Calibration Result"},
    {91, "Calibration Status"},
    {92, "Display Calibration Matrix"},
    {93, "Setpoint"},
    {94, "Analog IN 2"},
    {95, "Flow"},
    {96, "Calibration Values"},
    {97, "Cascaded Control"},
    {98, "Flow Offset"},
    {99, "Flow Span"},
    {100, "Display"},
    {101, "Readout Time"},
    {102, "Zoom Back"},
    {103, "Zoom"},
    {104, "High"},
    {105, "Low"},
    {106, "Communication Error"},
    {107, "Valve Info"},
    {108, "Part Number"},
    {109, "Serial No."},
    {110, "Week"},
    {111, "Year"},
    {112, "Read Valve Info"},
    {113, "Communication active. Exit not possible!"},
    {114, "About Orvo - Quillon Software "},
    {115, "Program Version"},
    {116, "Status Info"},
    {117, "Valve Status"},
    {118, "Supply Voltage"},
    {119, "YES"},
    {120, "Controller Firmware"},
    {121, "Production Date"},
    {122, "Operation Counter"},
    {123, "Days"},
    {124, "Hours"},
    {125, "Min"},
    {126, "Calibration Date"},
    {127, "Month"},
    {128, "Day"},
    {129, "Setpoint: "},
    {130, "Custom"},
    {131, "Normal"},
    {132, "Factory"},
    {133, "Parameter Set: "},
    {134, " -- "},
    {135, "Unknown"},
    {136, "Select Non Linear Array"},
    {137, "Temperature Array"},
    {138, "Temperature / °C"},
    {139, "Outside"},
    {140, "Valve"},
    {141, "Calibration Counter"},
    {142, "Valve Temperature"},
    {143, "Write"},
    {144, "Read"},
    {145, "Acquisition Time / sec"},
    {146, "Digital Output"},
    {147, "Shut Off"},
    {148, "Autosafe"},
    {149, "Limit Switch"},
    {150, "Digital Input"},
    {151, "Range"},
    {152, "Error"},
    {153, "Inlet Pressure"},
    {154, "Setpoint"},
    {155, "Analog Input 2"},
    {156, "Flow"},
    {157, "Control Deviation"},
    {158, "PWM Out"},
    {159, "PWM Out2"},
    {160, "Control Out"},
    {161, "P-Value"},
    {162, "I-Value"},
    {163, "D-Value"},
    {164, "Forward Control"},
    {165, "PID-Out"},
    {166, "Serial Setpoint"},
    {167, "Serial Setpoint /%"},
    {168, "Transmit"},
    {169, "Serial Setpoint active"},
    {170, "Close only allowed\n if 'Serial Setpoint' is DISABLED (OFF) "},
    {171, "Test Function"},
    {172, "Function"},
    {173, "Ramp"},
    {174, "Step"},
    {175, "Multistep"},
    {176, "Ramp- /Step-Time / sec"},
    {177, "Calibration"},
    {178, "Calibration Matrix Values"},
    {179, "Span dP DAC"},
    {180, "Span P2 DAC"},
    {181, "Disabled"},
    {182, "Enabled"},
    {183, "Overvoltage"},
    {184, "Undervoltage"},
    {185, "Overtemperature"},
    {186, "Digital Out"},
    {187, "Jumper"},
    {188, "Key Lock"},
    {189, "Manual Setpoint"},
    {190, "Reserve"},
    {191, "Parameters"},
    {192, "Parameter Setting"},
    {193, "Copy"},
    {194, "Forward Offset / %"},
    {195, "Control"},
    {196, "Forward Gain"},
    {197, "Proportional Gain"},
    {198, "Derivation Time / msec"},
    {199, "Integration Time / sec"},
    {200, "Integration Limit / %"},
    {201, "Dead Band / %"},
    {202, "PWM Frequency / Hz"},
    {203, "Control Cycle Time / msec"},
    {204, "Controller Structure"},
    {205, "P-Controller"},
    {206, "PI-Controller"},
    {207, "PD-Controller"},
    {208, "PID-Controller"},
    {209, "3 Range Pulse Controller"},
    {210, "3 Range Proportional Pulse Controller"},
    {211, "Cascaded control"},
    {212, "Flow control"},
    {213, "Setpoint Signal"},
    {214, "Setpoint"},
    {215, "Inverse (100% - 0)"},
    {216, "Normal (0 - 100%)"},
    {217, "Setpoint Direction"},
    {218, "Shut Off"},
    {219, "Shut Off Level / %"},
    {220, "Setpoint Adjustment"},
    {221, "Setpoint Offset / %"},
    {222, "Setpoint Span / %"},
    {223, "Setpoint Selection"},
    {224, "Setpoint 1"},
    {225, "Analog Input 2"},
    {226, "Ramp Function"},
    {227, "Rising Ramp"},
    {228, "Falling Ramp"},
    {229, "Rising + Falling Ramp"},
    {230, "No Ramp"},
    {231, "Ramp Rise Time / sec"},
    {232, "Ramp Fall Time / sec"},
    {233, "Analog OUT Select"},
    {234, "Feedback (x)"},
    {235, "Setpoint (w)"},
    {236, "Control Deviation (xd)"},
    {237, "Control Output (y)"},
    {238, "P-Value (yp)"},
    {239, "I-Value (yi)"},
    {240, "D-Value (yd)"},
    {241, "Forward Value (yf)"},
    {242, "Analog IN/OUT"},
    {243, "Analog IN 2"},
    {244, "Feedback Select"},
    {245, "Flow"},
    {246, "Analog In 2"},
    {247, "Auto Zero (P2)"},
    {248, "Auto Zero Value"},
    {249, "Value is updated only\n after Power Up"},
    {250, "Signal"},
    {251, "Direction"},
    {252, "Autosafe"},
    {253, "Temperature Limit / °C"},
    {254, "Autosafe Source"},
    {255, "Outside Window"},
    {256, "Current Limit Level / mA"},
    {257, "Option: Inlet Pressure Sensor"},
    {258, "Outlet Pressure Decrease"},
    {259, "Coil OFF"},
    {260, "Inlet Pressure Limit / %"},
    {261, "Autosafe Timing"},
    {262, "Delay Time / sec"},
    {263, "Coil ON Time / sec"},
    {264, "Coil OFF Time / sec"},
    {265, "Digital Input"},
    {266, "Select Function (active / inactive)"},
    {267, "Select Setpoint"},
    {268, "Manual / Setpoint 1"},
    {269, "Analog In 2 / Setpoint 1"},
    {270, "Select Feedback"},
    {271, "Analog In 2 / Flow"},
    {272, "Select Outlet Pressure"},
    {273, "Hold / Setpoint"},
    {274, "Zero / Setpoint"},
    {275, "Max / Setpoint"},
    {276, "Select Polarity"},
    {277, "high active"},
    {278, "low active"},
    {279, "Display / Keys"},
    {280, "Display Select"},
    {281, "Pressure in bar"},
    {282, "Pressure in psi"},
    {283, "Pressure in MPa"},
    {284, "Flow in l/min"},
    {285, "Flow in m³/min"},
    {286, "Flow in cf/min"},
    {287, "Analog In2 in %"},
    {288, "Analog Out in %"},
    {289, "Key Lock"},
    {290, "Key Function"},
    {291, "Manual Setpoint"},
    {292, "Menu"},
    {293, "Reserve"},
    {294, "LED Activiation"},
    {295, "GREEN"},
    {296, "YELLOW"},
    {297, "RED"},
    {298, "Digital OUT"},
    {299, "Supply Volt."},
    {300, "Overtemp."},
    {301, "Communication"},
    {302, "Manual Setpoint"},
    {303, "ERROR Signal"},
    {304, "Range Signal"},
    {305, "Und.-Over. Volt."},
    {306, "Output Source"},
    {307, "Inside Window"},
    {308, "Inside Window + under Alert Threshold"},
    {309, "ERROR + Outside Window"},
    {310, "Window Delay / sec"},
    {311, "Output Mode"},
    {312, "Normal (high active)"},
    {313, "Inverse (low active)"},
    {314, "Flow Window / %"},
    {315, "Alert Threshold P2 "},
    {316, "Alert Hysteresis / %"},
    {317, "ERROR Select"},
    {318, "Range"},
    {319, "Inactive (Manual)"},
    {320, "Alert Threshold"},
    {321, "Range + Inactive"},
    {322, "Range + Inactive + Overtemperature"},
    {323, "Range + Inactive + Overtemperature + Alert Threshold"},
    {324, "Setpoint Range Detection"},
    {325, "LED"},
    {326, "Calibration Matrix"},
    {327, "Display Factor"},
    {328, "Decimal Point"},
    {329, "No"},
    {330, "Right"},
    {331, "Middle"},
    {332, "Left"},
    {333, "Baudrate Error"},
    {334, "Close"},
    {335, "Overcurrent"},
    {336, "Digital Out"},
    {337, "none"},
    {338, "Setpoint(S)"},
    {339, "Control Deviation(S)"},
    {340, "PID-Out(S)"},
    {341, "Control Out(S)"},
    {342, "P-Value(S)"},
    {343, "I-Value(S)"},
    {344, "D-Value(S)"},
    {345, "Forward Control(S)"},
    {346, "Hold"},
    {347, "Reset"},
    {348, "Controller Firmware must be greater 0.00"},
    {349, "Slave Offset / %"},
    {350, "Slave Gain"},
    {351, "I-Value"},
    {352, "Master/Slave"},
    {353, "Master"},
    {354, "Slave"},
    {355, "Copy"},
    {356, "Limit"},
    {357, " !!! Caution !!! \n Only authorized personnel is allowed to make adjustments on this valve. \n Provide for protection against uncontrolled movement of equipment when putting the valve into operation. \n Modifications to the valve settings may create conditions hazardous to persons or damage to property."},
    {358, "I-Search"},
    {359, "On"},
    {360, "Off"},
    {361, "Ramp Time / msec"},
    {362, "Feedb. Threshold / %"},
    {363, "Auto Zero (dP)"},
    {364, "Auto Zero Value"},
    {365, "Value is updated only\n after Power Up"},
    {366, "Auto-Tune"},
    {367, " !!! Caution !!! \n This funktion can create dangerous setting \n on your machine \n and may create conditions hazardous \n to persons or damage to property"},
    {368, " !!! Caution !!! \n Are you sure to start Auto-Tune ? "},
    {369, "Flow"},
    {370, "Diff. Pressure(dP)"},
    {371, "Out. Pressure(P2)"},
    {372, "Offset P2 PWM"},
    {373, "Offset dP PWM"},
    {374, "internal Sensor"},
    // What went wrong on the line, and what a parameter write that did not complete left behind.
    {400, "The telegram could not be sent. Check that the adapter is still plugged in and that the port is right."},
    {401, "The valve did not answer. Check the cable, the port and that the valve is powered."},
    {402, "The valve refused the telegram (NAK): it received it damaged or does not accept it. Check the cable and its shielding; if the valve keeps refusing, it does not accept this value or command."},
    {403, "The valve's replies arrived damaged (wrong length or check byte). Check the cable and its shielding, the line speed and the power."},
    {404, "The valve answered with firmware version 0 and cannot be served. Check that this is the right valve and that its controller has started."},
    {405, "The write did not complete: the valve confirmed the first {0} of the {1} new values and now holds a mix of old and new values. Write the parameters again, or read them to see what the valve holds."},
    {406, "The write did not complete: the valve confirmed none of the new values and most likely still holds its old ones. Read the parameters to check, or write them again."},
    {407, "The valve's controller settings could not be read, so the test function was not written: it goes out together with them, and they must stay as the valve has them. Write the test function again when the line works."},
    // The connection field of the status bar: {0} the COM port, {1} its device, {2} the line speed.
    {410, "{0} {1} \u2014 not connected"},
    {411, "{0} {1} \u2014 {2} baud"},
    {412, "{0} {1} \u2014 valve not answering"},
    {413, "{0} {1} \u2014 device gone"},
    {414, "{0} {1} \u2014 valve replies unusable"},
    {415, "simulated valve"},
    {416, "{0} {1} \u2014 cannot be opened"},
    // Values on display that no reply has confirmed for a while.
    {417, "waiting for the valve\u2026"},
    // The Serial Port dialog's warning, before the reason and the fix: {0} the COM port.
    {418, "{0} is stored, but it cannot be used yet."},
    // Why a menu command is disabled.
    {420, "Wait until the valve has finished the running command"},
    {421, "Stop the recording first"},
    {422, "Start with -CAL for calibration"},
    // The help window; {0} the places the help file was looked for.
    {424, "The help file QLN.HLP was not found. It was looked for in:\n{0}"},
    {425, "Help"},
    {426, "&Find:"},
    {427, "Find &Next"},
    {428, "The help file could not be read: {0}"},
    // The language of the help file that goes with these texts: the name of a folder beside the
    // help file ("de"), or empty for the help file itself.
    {429, ""},
    {430, "The valve may still follow the serial setpoint sent from the PC instead of its own setpoint source. When the line works again, end it with Off in the Serial Setpoint dialog, or with qln-cli setpoint off."},
    {431, "The valve may still follow the serial setpoint sent from the PC instead of its own setpoint source, and Off has not been confirmed by the valve. Close the dialog all the same?"},
    {440, "Closes the dialog and keeps what was entered"},
    // Export of the recording and of the view's picture; {0} the file, {1} why it failed.
    {450, "Export Recording (CSV)"},
    {451, "Export Picture (PNG)"},
    {452, "CSV Files"},
    {453, "PNG Images"},
    {454, "{0} could not be written: {1}"},
    {455, "Width:"},
    {456, "Height:"},
    // New and Open while the valve is busy.
    {460, "An action or a recording is running. Let it end, or stop the recording (F5), then open or start the project."},
    // The Serial Port dialog's list of the devices present; {0} a stored path.
    {470, "&Device:"},
    {471, "{0} \u2014 not present"},
    // Said once at the first start: {0} the COM port, {1} the adapter's stable path.
    {472, "{0} is now the USB serial adapter {1}."},
    // The connection field (as 410..416) while a lost port's device is there again.
    {473, "{0} {1} \u2014 device present again, opened at the next request"},
    // Start Acquisition with a set-up whose mode is none of step, ramp and roll (a damaged project
    // file); {0} the mode found.
    {480, "The scope set-up holds an unknown acquisition mode ({0}). Choose Step, Ramp or Trigger Mode in Scope > Setup (F3), then start again. The recording is kept."},
    // A valve job while the valve history cannot be used; {0} why (a database newer than the
    // program, a damaged file, a setting that names no database).
    {495, "The valve history cannot take this job's entry: {0}.\n\nNothing was sent to the valve. Make the database usable or name another one in [HISTORY] DATABASE of QLN_com.ini, or use a newer version; then try again."},
    // An entry that neither the history's database nor its outbox took; {0} why.
    {496, "This job was not recorded in the valve history: {0}"},
    {497, "History: {0}; the entry waits in the outbox {1} and is delivered at the next job that reaches the database."},
    // The valve history dialog: lists, columns, the comparison and its notes ({0}, {1} the two
    // sets' names), and the one line that says why no history can be shown ({0} the reason).
    {500, "Valve History"},
    {501, "&Valves:"},
    {502, "Serial No."},
    {503, "Part Number"},
    {504, "Last Seen (UTC)"},
    {505, "&Entries:"},
    {506, "Entry"},
    {507, "Time (UTC)"},
    {508, "Station"},
    {509, "User"},
    {510, "Action"},
    {511, "Result"},
    {512, "Error"},
    {513, "&Differences:"},
    {514, "Parameter"},
    {515, "Project"},
    {516, "Take into &Project"},
    {517, "{0} ({1} confirmed)"},
    {518, "Select one entry to compare it with the project's edited set, or two to compare them with each other."},
    {519, "No differences: {0} and {1} hold the same values."},
    {520, "Entry {0} ({1}) holds no parameter set."},
    {521, "The valve history is off (DATABASE=off under [HISTORY] in QLN_com.ini). To keep one, remove that line, or name a database there (sqlite:PATH or postgresql://...)."},
    {522, "The valve history cannot be shown: {0}."},
    {523, "The valve history cannot be shown: {0}. Check that the server runs and this station reaches it, then open the history again."},
    {524, "The valve history cannot be shown: {0}. Restore the database from a backup, or move the file aside so that a new one is started."},
    {525, "The valve history holds no entries yet: every job that reads or changes the valve's settings adds one."},
    {526, "Entries waiting in the outbox {1}: {0}. The next job that reaches the database delivers them; they are not listed here until then."},
    // The step figures of a recording, in the scope view's table and under the printed curves: the
    // channels they need, the step shown ({0} of {1}), the figures' labels, the notes of a step
    // without figures, and the steps the page has no room for ({0}).
    {600, "Step figures need Setpoint on channel 1 and Flow on channel 2."},
    {601, "Step {0} of {1}"},
    {602, "Step"},
    {603, "t0 / s"},
    {604, "Setpoint / %"},
    {605, "Flow / %"},
    {606, "Dead time / s"},
    {607, "T63 / s"},
    {608, "T86 / s"},
    {609, "T98 / s"},
    {610, "Rise time / s"},
    {611, "Overshoot / %"},
    {612, "Settling time / s"},
    {613, "Travel gain"},
    {614, "Deviation / %"},
    {615, "span too short"},
    {616, "no response"},
    {617, "not settled"},
    {618, "and {0} more steps"},
    {619, "Step Figures"},
    {32024, "Quillon Software"},
};
// clang-format on

constexpr bool SortedAndUnique() {
    for (std::size_t i = 1; i < std::size(TEXTS); ++i)
        if (TEXTS[i - 1].id >= TEXTS[i].id) return false;
    return true;
}
static_assert(SortedAndUnique(), "the string table must stay sorted by id (BuiltinText searches it)");

std::string NotFound(unsigned id) {
    char buf[40];
    std::snprintf(buf, sizeof buf, " IDS %u not found ", id);
    return buf;
}

bool IsOneOf(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

} // namespace

const char* BuiltinText(unsigned id) {
    const auto* end = std::end(TEXTS);
    const auto* it = std::lower_bound(std::begin(TEXTS), end, id,
                                      [](const BuiltinTextEntry& e, unsigned v) { return e.id < v; });
    return it != end && it->id == id ? it->text : nullptr;
}

std::span<const BuiltinTextEntry> BuiltinTexts() {
    return TEXTS;
}

std::vector<std::string> PrintfConversions(std::string_view text) {
    // The grammar of the C library's printf: flags, width, precision, length, conversion. Anything
    // else after a '%' is not a conversion (the '%' of "Value / %" or "(0 - 100%)").
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        auto at = [&](std::size_t k) { return k < text.size() ? text[k] : '\0'; };
        while (IsOneOf(at(j), "-+ #0'"))
            ++j;
        // A width or precision: '*' or digits.
        auto skipCount = [&] {
            if (at(j) == '*')
                ++j;
            else
                while (IsOneOf(at(j), "0123456789"))
                    ++j;
        };
        skipCount();
        if (at(j) == '.') {
            ++j;
            skipCount();
        }
        if ((at(j) == 'h' && at(j + 1) == 'h') || (at(j) == 'l' && at(j + 1) == 'l'))
            j += 2;
        else if (IsOneOf(at(j), "hlLjztq"))
            ++j;
        if (IsOneOf(at(j), "diouxXeEfFgGaAcspnCS")) {
            out.emplace_back(text.substr(i, j + 1 - i));
            i = j;
        }
    }
    return out;
}

std::string TextSource::Builtin(unsigned id) {
    const char* t = BuiltinText(id);
    return t ? std::string(t) : NotFound(id);
}

namespace {
// The program's own texts added after the language libraries were first made: a library made for
// an earlier version cannot know them, so its lack of one is no fault to report.
bool NewerThanLibraries(unsigned id) {
    return id == IDS_TEST_FUNCTION_NOT_WRITTEN || (id >= IDS_SERIAL_SETPOINT_CLOSE_ANYWAY && id < 1000);
}
} // namespace

std::string TextSource::Get(unsigned id) const {
    if (NewerThanLibraries(id)) return GetSilently(id);
    if (library_) {
        if (auto text = library_->Find(id)) return *text;
        if (reportMissing_) reportMissing_(NotFound(id), " Lang Dll ");
    }
    return Builtin(id);
}

std::string TextSource::GetSilently(unsigned id) const {
    if (library_)
        if (auto text = library_->Find(id)) return *text;
    return Builtin(id);
}

std::string FillPlaceholders(std::string text, std::initializer_list<std::string> values) {
    // One pass over the text, so that a value holding "{1}" (a device path may) stays as it is.
    std::string out;
    std::vector<bool> used(values.size(), false);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool placeholder = text[i] == '{' && i + 2 < text.size() && text[i + 2] == '}' &&
                                 text[i + 1] >= '0' && text[i + 1] <= '9';
        const auto n = placeholder ? static_cast<std::size_t>(text[i + 1] - '0') : values.size();
        if (n < values.size() && !used[n]) {
            used[n] = true;
            out += *(values.begin() + n);
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string LoadText(unsigned id) {
    return TextSource::Builtin(id);
}
