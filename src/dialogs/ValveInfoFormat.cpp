#include "dialogs/ValveInfoFormat.h"

#include <algorithm>
#include <cstdio>

std::string FormatPartNumber(const DeviceInfo& d) {
    char variant[10] = {};
    std::snprintf(variant, sizeof variant, "%04X", static_cast<unsigned>(d.PartNumberVariant & 0xFFFF));
    const int* n = d.PartNumberDigit;
    char buf[64];
    if (variant[1] == '0' && variant[2] == '0' && variant[3] == '0')
        std::snprintf(buf, sizeof buf, "471-52%X %X%X%X%X%X%c", n[0] & 15, n[1] & 15, n[2] & 15, n[3] & 15,
                      n[4] & 15, n[5] & 15, variant[0]);
    else
        std::snprintf(buf, sizeof buf, "471-52%X %X%X%X%X%X%c-%c%c%c", n[0] & 15, n[1] & 15, n[2] & 15,
                      n[3] & 15, n[4] & 15, n[5] & 15, variant[0], variant[1], variant[2], variant[3]);
    return buf;
}

std::string FormatBcd(int32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(v) & 0xFF);
    return buf;
}

OperationTime SplitOperationCounter(int32_t minutes) {
    return {std::max(0, minutes / 1440), std::max(0, (minutes % 1440) / 60), std::max(0, minutes % 60)};
}
