#pragma once
#include <windows.h>
#include <cstdint>
#include "common/archive/MemoryBuffer.h"
#include "common/system/HandleHolder.h"
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"

// The binary file stream: opening reads the whole file into memory, reads and
// writes work on that copy, closing writes it back whole. All integers are
// little-endian without alignment; a string is an int32 byte count followed by
// UTF-16LE characters without terminator (also in the ANSI build, which
// converts); a block is an int32 byte count followed by the bytes.
//
// Rewriting is safe against failures and against an end at any moment: the
// content goes to a file beside the target ("<name>.new.tmp"), which takes the
// target's name only once it is completely on disk. Nothing appears under a
// missing file's name before that, so a reader finds either no file or the
// whole new one, never an empty or partial one. Mode 3 adds to an existing
// file in place and cuts a failed append back off. Mode 0 never writes.
//
// A writer holds an existing target from the open to the close without
// sharing, and a target still to be made through the file beside it: a second
// writer's open, and a reader's open of an existing target, fail with a
// sharing violation until the first writer closes; a reader of a file still
// to be made finds none. A file beside left by a process that ended is taken
// up and removed by the next writer of the same target.
class Archive {
public:
    enum Mode : int32_t {
        ModeRead = 0,       // existing file, shared for reading, position 0
        ModeCreate = 1,     // content replaced by what is written, at the close
        ModeReadWrite = 2,  // position at the end; a missing file is made only by a write
        ModeAppend = 3,     // what is written is added to the file's end (or makes it)
    };

    Archive() = default;
    // A path below 0x10000 is a string-table id. A non-empty path opens at once.
    explicit Archive(const TCHAR* path, int32_t mode = ModeRead, bool verify = false);
    Archive(const tstring& path, int32_t mode = ModeRead, bool verify = false);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Closes (and writes back) a stream still open first. Failures throw
    // Win32Error. With verify set, the last four bytes must be the CRC-32 of
    // the bytes before them (HRError 0x80070017 otherwise).
    void Open(const tstring& path, int32_t mode, bool verify = false);
    // Writes back unless opened in mode 0, then closes; nothing when closed.
    // A failed write leaves the original file intact and the stream closed,
    // and throws.
    void Close();
    void CloseIfOpen();
    // Closes without writing anything back: the file keeps its last written
    // content (for a writer whose in-memory copy is no longer trusted).
    void Discard();

    // The file beside a target that a writer's content goes to until its close.
    static tstring PendingPath(const tstring& path);

    bool IsOpen() const { return file_.IsValid() || pending_.IsValid(); }
    const tstring& Path() const { return path_; }
    int32_t Mode() const { return mode_; }

    // Page size of the in-memory copy; only while closed (the content is reset).
    void SetPageSize(uint32_t pageSize);

    void WriteInt(int32_t value);
    void WriteUInt(uint32_t value);
    void WriteByte(BYTE value);
    void WriteBool(bool value) { WriteByte(value ? 1 : 0); }
    void WriteFileTime(const FILETIME& value);
    // Up to the first NUL.
    void WriteString(const tstring& value);
    void WriteString(const TCHAR* value);
    // Count, then bytes.
    void WriteBlock(const SharedBuffer& value);
    // The bytes alone.
    void WriteBuffer(const SharedBuffer& value);
    void WriteRaw(const void* bytes, uint32_t length);

    // Every reader throws HRError 0x80070103 when the bytes run out; the
    // position is then where it was before the call.
    int32_t ReadInt();
    void ReadInt(int32_t& value) { value = ReadInt(); }
    uint32_t ReadUInt();
    void ReadUInt(uint32_t& value) { value = ReadUInt(); }
    BYTE ReadByte();
    void ReadByte(BYTE& value) { value = ReadByte(); }
    bool ReadBool();
    void ReadBool(bool& value) { value = ReadBool(); }
    void ReadFileTime(FILETIME& value);
    // A count larger than the bytes left (a short or corrupt body) gives the
    // empty string with the position after the count; the count itself must
    // be readable.
    void ReadString(tstring& value);
    tstring ReadString();
    // The same, converted by tstring::FromWideStrict: for names, which the
    // ANSI build must not read as look-alikes of other names.
    void ReadStrictString(tstring& value);
    // The target is released first.
    void ReadBlock(SharedBuffer& value);
    // n raw bytes from the start of value; value grows to n, a larger buffer
    // keeps its size.
    void ReadBuffer(SharedBuffer& value, uint32_t n);
    void ReadRaw(void* bytes, uint32_t n);

    uint32_t Seek(int64_t offset, int origin) { return buffer_.Seek(offset, origin); }
    uint32_t Position() const { return buffer_.Position(); }
    uint32_t Size() const { return buffer_.Size(); }
    uint32_t Remaining() const { return buffer_.Remaining(); }
    // CRC-32/BZIP2 of a range of the content.
    uint32_t Checksum(uint32_t offset, uint32_t length) { return buffer_.Checksum(offset, length); }
    // Cuts or zero-extends the content; the position does not change.
    void SetSize(uint32_t n);
    const MemoryBuffer& Buffer() const { return buffer_; }

private:
    void OpenForWriting(const tstring& path, DWORD access);
    void Load(bool verify);
    void Flush();
    void MoveInFinished();
    void AppendInPlace();
    void DropPending();
    void Forget();
    void WriteCounted(const void* bytes, uint64_t length);
    void ReadString(tstring& value, tstring (*convert)(const wchar_t*));

    tstring path_;
    // The target, while it exists; none for a file that is still to be made.
    HandleHolder file_;
    // The file beside that the finished content becomes: from the open for a
    // file still to be made, from the close for an existing one.
    HandleHolder pending_;
    // Both full paths, fixed at the open whatever the current folder becomes.
    tstring target_;
    tstring pendingPath_;
    int32_t mode_ = ModeCreate;
    MemoryBuffer buffer_;
    // Mode 2 rewrites the file only when something was written.
    bool dirty_ = false;
};
