#include "restore/InflateFile.h"
#include <vector>
#include <zlib.h>
#include "common/system/HandleHolder.h"

namespace {

const DWORD kBlockSize = 0x40000;

// Ends the inflate stream however the inflation leaves.
class InflateStream {
public:
    InflateStream() { status_ = inflateInit_(&stream_, "1.2.3", int(sizeof(stream_))); }
    ~InflateStream() {
        if (status_ == Z_OK)
            inflateEnd(&stream_);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    int Status() const { return status_; }
    z_stream& Get() { return stream_; }

private:
    z_stream stream_ = {};
    int status_;
};

bool WriteAll(HANDLE file, const BYTE* data, DWORD length) {
    DWORD written = 0;
    return WriteFile(file, data, length, &written, nullptr) && written == length;
}

// The inflation proper; the caller removes the destination on failure.
int Inflate(HANDLE source, HANDLE destination) {
    InflateStream inflater;
    if (inflater.Status() != Z_OK)
        return inflater.Status();
    z_stream& stream = inflater.Get();
    std::vector<BYTE> in(kBlockSize), out(kBlockSize);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source, in.data(), kBlockSize, &got, nullptr))
            return -1;
        // The input ran out before the stream's end: the file was cut short.
        if (got == 0)
            return Z_DATA_ERROR;
        stream.next_in = in.data();
        stream.avail_in = got;
        do {
            stream.next_out = out.data();
            stream.avail_out = kBlockSize;
            int status = inflate(&stream, Z_NO_FLUSH);
            if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_STREAM_ERROR)
                return Z_DATA_ERROR;
            if (status == Z_MEM_ERROR)
                return Z_MEM_ERROR;
            if (!WriteAll(destination, out.data(), kBlockSize - stream.avail_out))
                return -1;
            if (status == Z_STREAM_END)
                return Z_OK;
        } while (stream.avail_out == 0);
    }
}

}  // namespace

int InflateFile(const tstring& source, const tstring& destination) {
    HandleHolder in(CreateFile(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in.IsValid())
        return -1;
    HandleHolder out(CreateFile(destination.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.IsValid())
        return -1;
    int result = Inflate(in, out);
    out.CloseNoThrow();
    if (result != Z_OK)
        DeleteFile(destination.c_str());
    return result;
}
