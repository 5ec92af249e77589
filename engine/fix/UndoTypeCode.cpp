#include "engine/fix/UndoTypeCode.h"
#include "engine/registry/RegValue.h"

namespace UndoTypeCode {

namespace {

const uint32_t kOtherTypeBit = 0x40000000u;

bool IsEngineCode(int32_t code) {
    return code >= RegValue::String && code <= RegValue::Binary;
}

// Absent has the bit as well, but names no type.
bool IsOtherCode(int32_t code) {
    return (uint32_t(code) & kOtherTypeBit) != 0 && code != Absent;
}

}  // namespace

bool Encode(DWORD registryType, int32_t& code) {
    int32_t engine = RegValue::CodeOf(registryType);
    if (IsEngineCode(engine)) {
        code = engine;
        return true;
    }
    // A type that has bit 30 itself would lose the mark that tells it apart.
    int32_t other = int32_t(registryType ^ kOtherTypeBit);
    if (!IsOtherCode(other))
        return false;
    code = other;
    return true;
}

bool Decode(int32_t code, DWORD& registryType) {
    if (IsEngineCode(code)) {
        registryType = RegValue::RegistryType(code);
        return true;
    }
    if (!IsOtherCode(code))
        return false;
    registryType = DWORD(uint32_t(code) ^ kOtherTypeBit);
    return true;
}

}  // namespace UndoTypeCode
