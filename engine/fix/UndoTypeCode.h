#pragma once
#include <windows.h>
#include <cstdint>

// How undo data stores a value's registry type. The six types the engine
// reads and writes keep the engine's type codes (1 string, 2 expandable,
// 3 multi-string, 4 32-bit, 5 64-bit, 6 binary), so undo files of every
// build read alike. Every other registry type is kept exactly, with bit 30
// of its number flipped: REG_NONE becomes 0x40000000, REG_LINK 0x40000006.
// Those codes lie outside 1-6, so a reader that knows only the six types
// refuses such a value rather than writing it back with a wrong type.
//
// 0 (a value of a type an older writer could not keep) and -1 (a value that
// did not exist) carry no type, nor does any other code without bit 30: it
// is no code this format writes, and guessing a type from it would write a
// value back that never was. So the registry types that have bit 30 set
// themselves, and 0xBFFFFFFF (whose code would be -1), cannot be stored; a
// fix that would have to save such a value is not applied.
namespace UndoTypeCode {

const int32_t Absent = -1;
const int32_t Unrestorable = 0;

// False when the type cannot be stored.
bool Encode(DWORD registryType, int32_t& code);
// False for Absent, Unrestorable and every other code without bit 30.
bool Decode(int32_t code, DWORD& registryType);

}  // namespace UndoTypeCode
