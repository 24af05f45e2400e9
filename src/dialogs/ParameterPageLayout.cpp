#include "dialogs/ParameterPageLayout.h"

#include <array>

namespace {
using enum PageItemKind;

constexpr PageItem COLUMN{Column};
constexpr PageItem END_FRAME{FrameEnd};

// Dependencies, by the values that switch a control off (or the only ones that switch it on).
constexpr Dependency NEEDS_INTEGRAL{"CONTROLLER_STRUCTURE", false, 1u << 0 | 1u << 2};   // not P, not PD
constexpr Dependency NEEDS_DERIVATIVE{"CONTROLLER_STRUCTURE", false, 1u << 0 | 1u << 1}; // not P, not PI
// In cascaded control the valve takes its feedback from the cascade; the choice has no meaning.
constexpr Dependency NOT_CASCADED{"CONTROLLER_STRUCTURE", false, 1u << 6};
constexpr Dependency CUSTOM_ADJUSTMENT{"SETPOINT_ADJUSTMENT", true, 1u << 1};
constexpr Dependency SOME_RAMP{"RAMP_FUNCTION", false, 1u << 0};
constexpr Dependency INLET_SENSOR_USED{"OPTION_INPUT_PRESSURE_SENSOR", false, 1u << 0};

// ---- Control -------------------------------------------------------------------------------------
constexpr ButtonPlace STRUCTURE_BUTTONS[] = {{"1388", 0}, {"1397", 1}, {"1630", 2}, {"1399", 3},
                                             {"1632", 4}, {"1401", 5}, {"1634", 6}, {"1403", 7}};
constexpr ButtonPlace I_VALUE_BUTTONS[] = {{"1758", 0}, {"1759", 1}};
constexpr ButtonPlace I_SEARCH_BUTTONS[] = {{"1777", 0}, {"1778", 1}};

// clang-format off
constexpr PageItem CONTROL[] = {
    {.kind = Number, .field = "FORWARD_OFFSET", .id = "1359", .statusId = "1361", .editId = "1360", .spinId = "1378"},
    {.kind = Number, .field = "FORWARD_GAIN", .id = "1362", .statusId = "1364", .editId = "1363", .spinId = "1570"},
    {.kind = Number, .field = "PROPORTIONAL_GAIN", .id = "1365", .statusId = "1367", .editId = "1366", .spinId = "1074"},
    {.kind = Number, .field = "INTEGRATION_TIME", .id = "1368", .statusId = "1370", .editId = "1369", .spinId = "1078",
     .dependency = NEEDS_INTEGRAL},
    {.kind = Number, .field = "INTEGRATION_LIMIT", .id = "1371", .statusId = "1373", .editId = "1372", .spinId = "1395",
     .dependency = NEEDS_INTEGRAL},
    {.kind = Number, .field = "DEAD_BAND", .id = "1375", .statusId = "1377", .editId = "1376", .spinId = "1086",
     .dependency = NEEDS_INTEGRAL},
    {.kind = Number, .field = "DERIVATION_TIME", .id = "1379", .statusId = "1381", .editId = "1380", .spinId = "1082",
     .dependency = NEEDS_DERIVATIVE},
    {.kind = Number, .field = "PWM_FREQUENCY", .id = "1382", .statusId = "1385", .editId = "1384", .spinId = "1391"},
    {.kind = Number, .field = "CONTROL_CYCLE_TIME", .id = "1383", .statusId = "1387", .editId = "1386", .spinId = "1628"},
    {.kind = Choice, .field = "I_VALUE", .id = "1757", .statusId = "1760", .buttons = I_VALUE_BUTTONS},
    {.kind = Choice, .field = "I_SEARCH", .id = "1768", .statusId = "1776", .buttons = I_SEARCH_BUTTONS},
    {.kind = Number, .field = "I_SEARCH_RAMPTIME", .id = "1779", .statusId = "1774", .editId = "1773", .spinId = "1775"},
    {.kind = Number, .field = "I_SEARCH_FEEDBACK_THRESHOLD", .id = "1772", .statusId = "1770", .editId = "1769",
     .spinId = "1771"},
    COLUMN,
    {.kind = Choice, .field = "CONTROLLER_STRUCTURE", .id = "1374", .statusId = "1389", .buttons = STRUCTURE_BUTTONS},
};
// clang-format on

// ---- Setpoint ------------------------------------------------------------------------------------
constexpr ButtonPlace SIGNAL_BUTTONS[] = {{"1393", 0}, {"1633", 1}, {"1402", 2}};
constexpr ButtonPlace DIRECTION_BUTTONS[] = {{"1404", 0, 0, "Normal (0-100%)"},
                                             {"1405", 1, 0, "Inverse (100%-0)"}};
constexpr ButtonPlace SHUT_OFF_BUTTONS[] = {{"1100", 0, 0, "OFF"}, {"1099", 1, 0, "ON"}};
constexpr ButtonPlace ADJUSTMENT_BUTTONS[] = {{"1412", 0}, {"1413", 1}};
constexpr ButtonPlace SELECTION_BUTTONS[] = {{"1407", 0}, {"1408", 1, 0, "Analog In 2"}};
constexpr ButtonPlace RAMP_BUTTONS[] = {{"1415", 0}, {"1416", 1}, {"1417", 2}, {"1418", 3}};

// clang-format off
constexpr PageItem SETPOINT[] = {
    {.kind = Choice, .field = "SETPOINT_SIGNAL", .id = "1390", .statusId = "1635", .buttons = SIGNAL_BUTTONS},
    {.kind = Choice, .field = "SETPOINT_DIRECTION", .id = "1626", .statusId = "1406", .buttons = DIRECTION_BUTTONS},
    {.kind = Choice, .field = "SETPOINT_SELECTION", .id = "1392", .statusId = "1409", .buttons = SELECTION_BUTTONS},
    COLUMN,
    {.kind = Choice, .field = "SHUT_OFF", .id = "1271", .statusId = "1411", .buttons = SHUT_OFF_BUTTONS},
    {.kind = Number, .field = "SHUT_OFF_LEVEL", .id = "1394", .statusId = "1421", .editId = "1420", .spinId = "1460"},
    {.kind = Choice, .field = "SETPOINT_ADJUSTMENT", .id = "1627", .statusId = "1414", .buttons = ADJUSTMENT_BUTTONS},
    {.kind = Number, .field = "SETPOINT_OFFSET", .id = "1396", .statusId = "1423", .editId = "1422", .spinId = "1461",
     .dependency = CUSTOM_ADJUSTMENT},
    {.kind = Number, .field = "SETPOINT_SPAN", .id = "1629", .statusId = "1429", .editId = "1428", .spinId = "1462",
     .dependency = CUSTOM_ADJUSTMENT},
    COLUMN,
    {.kind = Choice, .field = "RAMP_FUNCTION", .id = "1398", .statusId = "1419", .buttons = RAMP_BUTTONS},
    {.kind = Number, .field = "RAMP_RISE_TIME", .id = "1631", .statusId = "1425", .editId = "1424", .spinId = "1463",
     .dependency = SOME_RAMP},
    {.kind = Number, .field = "RAMP_FALL_TIME", .id = "1400", .statusId = "1427", .editId = "1426", .spinId = "1464",
     .dependency = SOME_RAMP},
};
// clang-format on

// ---- Analog IN/OUT -------------------------------------------------------------------------------
constexpr ButtonPlace ANALOG_OUT_BUTTONS[] = {{"1430", 0},
                                              {"1431", 1},
                                              {"1432", 2},
                                              {"1433", 3},
                                              {"1434", 4, 0, "P - Valve (yp)"},
                                              {"1435", 5, 0, "I - Valve (yi)"},
                                              {"1436", 6, 0, "Differential Pressure(dP)"},
                                              {"1437", 7, 0, "Output Pressure (P2)"}};
constexpr ButtonPlace FEEDBACK_BUTTONS[] = {{"1441", 0}, {"1442", 1}};
constexpr ButtonPlace AUTO_ZERO_BUTTONS[] = {{"1446", 0, 0, "OFF"}, {"1445", 1, 0, "ON"}};
constexpr ButtonPlace AUTO_ZERO_DP_BUTTONS[] = {{"1782", 0, 0, "OFF"}, {"1781", 1, 0, "ON"}};
constexpr ButtonPlace IN2_SIGNAL_BUTTONS[] = {{"1452", 0}, {"1453", 1}, {"1454", 2}};
constexpr ButtonPlace IN2_DIRECTION_BUTTONS[] = {{"1457", 0}, {"1458", 1}};

// clang-format off
constexpr PageItem ANALOG_IN_OUT[] = {
    {.kind = Choice, .field = "ANALOG_OUT_SELECT", .id = "1410", .statusId = "1438", .buttons = ANALOG_OUT_BUTTONS},
    COLUMN,
    {.kind = FrameBegin, .id = "1439", .text = 243},
    {.kind = Choice, .field = "FEEDBACK_SELECT", .id = "1440", .statusId = "1443", .buttons = FEEDBACK_BUTTONS,
     .dependency = NOT_CASCADED},
    {.kind = Choice, .field = "ANALOG_IN_2_SIGNAL", .id = "1451", .caption = "Analog In 2 Signal", .statusId = "1455",
     .buttons = IN2_SIGNAL_BUTTONS},
    {.kind = Choice, .field = "ANALOG_IN_2_DIRECTION", .id = "1456", .caption = "Analog In 2 Direction",
     .statusId = "1459", .buttons = IN2_DIRECTION_BUTTONS},
    END_FRAME,
    COLUMN,
    {.kind = Choice, .field = "AUTO_ZERO_FEEDBACK", .id = "1444", .statusId = "1447", .buttons = AUTO_ZERO_BUTTONS},
    {.kind = ValveOnly, .field = "AUTO_ZERO_VALUE", .id = "1450", .statusId = "1449", .noteText = 249},
    {.kind = Choice, .field = "AUTO_ZERO_DP_FEEDBACK", .id = "1780", .statusId = "1783", .buttons = AUTO_ZERO_DP_BUTTONS},
    {.kind = ValveOnly, .field = "AUTO_ZERO_DP_VALUE", .id = "1786", .statusId = "1785", .noteText = 365},
};
// clang-format on

// ---- Autosafe ------------------------------------------------------------------------------------
constexpr ButtonPlace AUTOSAFE_BUTTONS[] = {{"1288", 0, 0, "OFF"}, {"1607", 1, 0, "ON"}};
constexpr ButtonPlace OVERTEMPERATURE_BUTTONS[] = {{"1615", 0, 0, "OFF"}, {"1613", 1, 0, "ON"}};
constexpr ButtonPlace SOURCE_BUTTONS[] = {{"1469", 0}, {"1470", 1}};
constexpr ButtonPlace INLET_BUTTONS[] = {{"1485", 0}, {"1486", 1}, {"1487", 2}, {"1488", 3}};

// clang-format off
constexpr PageItem AUTOSAFE[] = {
    {.kind = Choice, .field = "AUTOSAFE", .id = "1279", .statusId = "1465", .buttons = AUTOSAFE_BUTTONS},
    {.kind = Choice, .field = "OVERTEMPERATURE", .id = "1280", .statusId = "1466", .buttons = OVERTEMPERATURE_BUTTONS},
    {.kind = Number, .field = "OVERTEMPERATURE_LIMIT", .id = "1599", .statusId = "1468", .editId = "1467", .spinId = "1473"},
    {.kind = Choice, .field = "AUTOSAFE_SOURCE", .id = "1282", .statusId = "1581", .buttons = SOURCE_BUTTONS},
    {.kind = Number, .field = "CURRENT_LIMIT_LEVEL", .id = "1603", .statusId = "1472", .editId = "1471", .spinId = "1474"},
    COLUMN,
    {.kind = FrameBegin, .id = "1475", .text = 261},
    {.kind = List, .field = "DELAY_TIME", .id = "1477", .statusId = "1478", .editId = "1476"},
    {.kind = List, .field = "COIL_ON_TIME", .id = "1479", .statusId = "1481", .editId = "1480"},
    {.kind = List, .field = "COIL_OFF_TIME", .id = "1482", .statusId = "1484", .editId = "1483"},
    END_FRAME,
    // The inlet pressure option is not offered on this valve type; it keeps its place in the set.
    {.kind = Choice, .field = "OPTION_INPUT_PRESSURE_SENSOR", .id = "1283", .statusId = "1238", .buttons = INLET_BUTTONS,
     .hidden = true},
    {.kind = Number, .field = "INPUT_PRESSURE_LIMIT", .statusId = "1586", .editId = "1583", .spinId = "1490",
     .dependency = INLET_SENSOR_USED, .hidden = true},
};
// clang-format on

// ---- Digital Input -------------------------------------------------------------------------------
// Auto-Tune came last to the valve and sits second on screen; the others follow in value order
// under their headings.
constexpr ButtonPlace FUNCTION_BUTTONS[] = {{"1560", 0},
                                            {"1787", 7},
                                            {"1561", HEADING, 267},
                                            {"1562", 1},
                                            {"1563", 2},
                                            {"1564", HEADING, 270},
                                            {"1565", 3},
                                            {"1566", HEADING, 272, "Select Flow"},
                                            {"1567", 4},
                                            {"1568", 5},
                                            {"1569", 6}};
constexpr ButtonPlace POLARITY_BUTTONS[] = {{"1557", 0}, {"1558", 1}};

constexpr PageItem DIGITAL_INPUT[] = {
    {.kind = Choice,
     .field = "SELECT_FUNCTION",
     .id = "1559",
     .statusId = "1237",
     .buttons = FUNCTION_BUTTONS},
    COLUMN,
    {.kind = Choice,
     .field = "SELECT_POLARITY",
     .id = "1556",
     .statusId = "1236",
     .buttons = POLARITY_BUTTONS},
};

// ---- Display / Keys ------------------------------------------------------------------------------
constexpr ButtonPlace DISPLAY_BUTTONS[] = {
    {"1284", 0}, {"1286", 1}, {"1287", 2}, {"1610", 3}, {"1289", 4, 0, "Flow in m\u00b3/h"},
    {"1616", 5}, {"1618", 6}, {"1292", 7}};
constexpr ButtonPlace KEY_LOCK_BUTTONS[] = {{"1496", 0, 0, "OFF"}, {"1495", 1, 0, "ON"}};
constexpr ButtonPlace KEY_FUNCTION_BUTTONS[] = {{"1499", 0}, {"1500", 1, 291}, {"1501", 2}, {"1502", 3}};
constexpr ButtonPlace GREEN_BUTTONS[] = {{"1508", 0}, {"1509", 1}, {"1510", 2}, {"1511", 3}};
constexpr ButtonPlace YELLOW_BUTTONS[] = {{"1513", 0}, {"1514", 1}, {"1515", 2}, {"1516", 3}};
constexpr ButtonPlace RED_BUTTONS[] = {
    {"1517", 0}, {"1518", 1}, {"1519", 2}, {"1520", 3, 0, "Und.-Over Volt."}};

// clang-format off
constexpr PageItem DISPLAY_KEYS[] = {
    {.kind = Choice, .field = "DISPLAY_SELECT", .id = "1491", .statusId = "1493", .buttons = DISPLAY_BUTTONS},
    COLUMN,
    // The valve's keys are locked from its own menu; the editor keeps the field as it is.
    {.kind = Choice, .field = "KEY_LOCK", .id = "1494", .caption = "Key Look", .statusId = "1497",
     .buttons = KEY_LOCK_BUTTONS, .hidden = true},
    {.kind = Choice, .field = "KEY_FUNCTION", .id = "1498", .statusId = "1503", .buttons = KEY_FUNCTION_BUTTONS},
    COLUMN,
    {.kind = FrameBegin, .id = "1504", .text = 294},
    {.kind = Choice, .field = "LED_GREEN", .id = "1505", .statusId = "1512", .buttons = GREEN_BUTTONS},
    {.kind = Choice, .field = "LED_YELLOW", .id = "1506", .statusId = "1239", .buttons = YELLOW_BUTTONS},
    {.kind = Choice, .field = "LED_RED", .id = "1507", .statusId = "1582", .buttons = RED_BUTTONS},
    END_FRAME,
};
// clang-format on

// ---- Digital Out (the pressure switch output) ----------------------------------------------------
constexpr ButtonPlace SWITCH_SOURCE_BUTTONS[] = {{"1592", 0}, {"1636", 1}, {"1521", 2}, {"1522", 3}};
constexpr ButtonPlace OUTPUT_MODE_BUTTONS[] = {{"1525", 0}, {"1526", 1}};

// clang-format off
constexpr PageItem PRESSURE_SWITCH[] = {
    {.kind = Choice, .field = "PRESSURE_SWITCH_OUTPUT_SOURCE", .id = "1637", .statusId = "1523",
     .buttons = SWITCH_SOURCE_BUTTONS},
    {.kind = Choice, .field = "OUTPUT_MODE", .id = "1524", .statusId = "1527", .buttons = OUTPUT_MODE_BUTTONS},
    COLUMN,
    {.kind = Number, .field = "OUTPUT_DELAY", .id = "1534", .statusId = "1536", .editId = "1535", .spinId = "1537"},
    {.kind = Number, .field = "WINDOW_SIZE", .id = "1538", .statusId = "1241", .editId = "1240", .spinId = "1539"},
    {.kind = FrameBegin, .id = "1761", .text = 356, .caption = "Alert Threshold P2"},
    {.kind = Number, .field = "LIMIT_SIZE", .id = "1540", .caption = "Alert Value / %", .statusId = "1243",
     .editId = "1584", .spinId = "1543"},
    {.kind = Number, .field = "LIMIT_HYSTERESIS", .id = "1541", .statusId = "1245", .editId = "1575", .spinId = "1544"},
    END_FRAME,
};
// clang-format on

// ---- ERROR ---------------------------------------------------------------------------------------
constexpr ButtonPlace ERROR_BUTTONS[] = {{"1546", 0}, {"1547", 1}, {"1548", 2}, {"1549", 3},
                                         {"1550", 4}, {"1551", 5}, {"1552", 6}, {"1553", 7}};
constexpr ButtonPlace RANGE_BUTTONS[] = {{"1529", 0, 0, "Disabled"}, {"1530", 1}, {"1531", 2}, {"1532", 3}};

constexpr PageItem ERROR_PAGE[] = {
    {.kind = Choice, .field = "ERROR_SELECT", .id = "1545", .statusId = "1554", .buttons = ERROR_BUTTONS},
    COLUMN,
    {.kind = Choice,
     .field = "SETPOINT_RANGE_DETECTION",
     .id = "1528",
     .statusId = "1533",
     .buttons = RANGE_BUTTONS},
};

const std::array<PageLayout, PAGE_COUNT> LAYOUTS{{
    {Page::Control, 195, CONTROL},
    {Page::Setpoint, 214, SETPOINT},
    {Page::AnalogInOut, 242, ANALOG_IN_OUT},
    {Page::Autosafe, 252, AUTOSAFE},
    {Page::DigitalInput, 265, DIGITAL_INPUT},
    {Page::DisplayKeys, 279, DISPLAY_KEYS},
    {Page::PressureSwitch, 336, PRESSURE_SWITCH},
    {Page::Error, 6, ERROR_PAGE},
}};
} // namespace

std::span<const PageLayout, PAGE_COUNT> PageLayouts() {
    return LAYOUTS;
}

const PageLayout& LayoutOf(Page page) {
    for (const PageLayout& l : LAYOUTS)
        if (l.page == page) return l;
    return LAYOUTS[0];
}
