#include "engine/scan/IgnoreFile.h"
#include <new>
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "common/system/BusyFile.h"

namespace {

const int32_t kCrcMismatch = int32_t(0x80070017);
const int32_t kInvalidData = int32_t(0x8007000D);

[[noreturn]] void ThrowDamaged() {
    throw ErrorBase(kInvalidData, _T("Invalid ignore file"));
}

// The file's own claims decide nothing until the bytes behind them are known
// to be there: a crafted count must not become an allocation.
class RecordReader {
public:
    explicit RecordReader(Archive& file) : file_(file) {}

    bool AtEnd() const { return file_.Remaining() == 0; }

    BYTE Byte() {
        Need(1);
        return file_.ReadByte();
    }

    int32_t Int() {
        Need(4);
        return file_.ReadInt();
    }

    tstring Text() {
        int32_t bytes = Int();
        if (bytes < 0 || bytes % 2 != 0)
            ThrowDamaged();
        Need(uint32_t(bytes));
        tstring text;
        if (bytes > 0) {
            text.resize(size_t(bytes) / 2);
            file_.ReadRaw(&text[0], uint32_t(bytes));
        }
        return text;
    }

private:
    void Need(uint32_t bytes) const {
        if (file_.Remaining() < bytes)
            ThrowDamaged();
    }

    Archive& file_;
};

bool IsShort(BYTE flag, ShortRecordFlag rule) {
    return rule == ShortRecordFlag::One ? flag == 1 : flag != 0;
}

ScanRecord ReadRecord(RecordReader& in, ShortRecordFlag rule) {
    ScanRecord record;
    record.Flag = in.Byte();
    record.KeyPath = in.Text();
    record.ValueName = in.Text();
    if (!IsShort(record.Flag, rule)) {
        record.Reason = in.Text();
        record.Item = in.Text();
        record.ErrorID = in.Int();
    }
    return record;
}

}  // namespace

std::vector<ScanRecord> ReadIgnoreFile(const tstring& path, ShortRecordFlag rule) {
    // Opened explicitly: an empty path must fail rather than give a closed stream.
    Archive file;
    file.Open(path, Archive::ModeRead);
    if (file.Size() < 4)
        ThrowDamaged();
    uint32_t stored = file.ReadUInt();
    if (file.Checksum(4, file.Size() - 4) != stored)
        throw ErrorBase(kCrcMismatch, _T("Invalid CRC"));
    std::vector<ScanRecord> records;
    RecordReader in(file);
    while (!in.AtEnd())
        records.push_back(ReadRecord(in, rule));
    file.Close();
    return records;
}

namespace {

IgnoreFileRead ReadOnce(const tstring& path, ShortRecordFlag rule) {
    IgnoreFileRead read;
    try {
        read.records = ReadIgnoreFile(path, rule);
        read.state = IgnoreFileRead::Read;
        return read;
    } catch (const ErrorBase& e) {
        read.code = e.Code() ? e.Code() : int32_t(E_FAIL);
        read.message = e.Message();
    } catch (const std::bad_alloc&) {
        read.code = E_OUTOFMEMORY;
        read.message = _T("out of memory");
    }
    if (read.code == kCrcMismatch || read.code == kInvalidData)
        read.state = IgnoreFileRead::Damaged;
    else if (IsMissingFileCode(read.code))
        read.state = IgnoreFileRead::Missing;
    else if (IsBusyFileCode(read.code))
        read.state = IgnoreFileRead::Busy;
    else
        read.state = IgnoreFileRead::Unreadable;
    return read;
}

}  // namespace

IgnoreFileRead ReadIgnoreFileSettled(const tstring& path, ShortRecordFlag rule, int attempts) {
    IgnoreFileRead read = ReadOnce(path, rule);
    for (int attempt = 1; attempt < attempts && read.state == IgnoreFileRead::Busy; ++attempt) {
        Sleep(kBusyFileRetryMs);
        read = ReadOnce(path, rule);
    }
    return read;
}

void WriteIgnoreFile(const tstring& path, const std::vector<ScanRecord>& records) {
    Archive file;
    file.Open(path, Archive::ModeCreate);
    file.WriteUInt(0);
    for (const ScanRecord& record : records) {
        file.WriteByte(0);
        file.WriteString(record.KeyPath);
        file.WriteString(record.ValueName);
        file.WriteString(record.Reason);
        file.WriteString(record.Item);
        file.WriteInt(record.ErrorID);
    }
    uint32_t crc = file.Checksum(4, file.Size() - 4);
    file.Seek(0, FILE_BEGIN);
    file.WriteUInt(crc);
    file.Close();
}
