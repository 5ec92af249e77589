#include "engine/scan/PathReadings.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/PathChecks.h"

std::vector<tstring> PathReadings(RegValue& value) {
    std::vector<tstring> readings{value.DataText()};
    if (!value.Key().InWow64View()) return readings;
    if (value.Type() != RegValue::String && value.Type() != RegValue::ExpandString) return readings;
    tstring program32 = ExpandedFor32Bit(value.StoredText());
    if (program32 != readings.front()) readings.push_back(program32);
    return readings;
}
