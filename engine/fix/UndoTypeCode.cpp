#include "engine/fix/UndoTypeCode.h"
#include "engine/registry/RegValue.h"

namespace UndoTypeCode {

namespace {

const uint32_t kOtherTypeBit = 0x40000000u;

bool IsEngineCode(int32_t code) {
    return code >= RegValue::String && code <= RegValue::Binary;
}

}  // namespace

bool Encode(DWORD registryType, int32_t& code) {
    int32_t engine = RegValue::CodeOf(registryType);
    if (IsEngineCode(engine)) {
        code = engine;
        return true;
    }
    int32_t other = int32_t(registryType ^ kOtherTypeBit);
    if (other == Absent || other == Unrestorable || IsEngineCode(other))
        return false;
    code = other;
    return true;
}

bool Decode(int32_t code, DWORD& registryType) {
    if (code == Absent || code == Unrestorable)
        return false;
    registryType = IsEngineCode(code) ? RegValue::RegistryType(code) : DWORD(uint32_t(code) ^ kOtherTypeBit);
    return true;
}

}  // namespace UndoTypeCode
