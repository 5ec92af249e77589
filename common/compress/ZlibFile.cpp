#include "common/compress/ZlibFile.h"
#include <zlib.h>
#include <vector>
#include "common/system/HandleHolder.h"

namespace {

const DWORD kBlock = 0x40000;

// A source may be deleted while it is read: a backup given up while its
// compression hangs deletes its pack, which then goes when this handle
// closes, at the latest when the process ends, instead of staying for good.
HANDLE OpenSource(const tstring& path) {
    return CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                      nullptr);
}

// Nobody else reads or writes a target while it is made, but it may be
// deleted: a backup given up while a write of it hangs removes its file.
HANDLE CreateTarget(const tstring& path) {
    return CreateFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, 0, nullptr);
}

// A failed read reports false; a read of 0 bytes is the end of the file.
bool ReadBlock(HANDLE file, std::vector<Bytef>& buffer, DWORD& got) {
    got = 0;
    return ReadFile(file, buffer.data(), kBlock, &got, nullptr) != FALSE;
}

bool WriteBlock(HANDLE file, const Bytef* bytes, DWORD length) {
    if (length == 0)
        return true;
    DWORD written = 0;
    if (!WriteFile(file, bytes, length, &written, nullptr))
        return false;
    // A short write without an error is a volume that ran out of room.
    if (written != length)
        SetLastError(ERROR_DISK_FULL);
    return written == length;
}

// The stream state ends with the object on every path.
struct Deflater {
    z_stream stream = {};
    bool live = false;
    ~Deflater() {
        if (live)
            deflateEnd(&stream);
    }
};

struct Inflater {
    z_stream stream = {};
    bool live = false;
    ~Inflater() {
        if (live)
            inflateEnd(&stream);
    }
};

}  // namespace

int CompressFile(const tstring& source, const tstring& target, int level) {
    Deflater z;
    int result = deflateInit(&z.stream, level);
    if (result != Z_OK)
        return result;
    z.live = true;
    HandleHolder in(OpenSource(source));
    HandleHolder out(CreateTarget(target));
    if (!out.IsValid())
        return -3;
    std::vector<Bytef> input(kBlock), output(kBlock);
    int flush = Z_NO_FLUSH;
    do {
        DWORD got = 0;
        if (!in.IsValid() || !ReadBlock(in, input, got)) {
            out.CloseNoThrow();
            DeleteFile(target.c_str());
            return -1;
        }
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.stream.next_in = input.data();
        z.stream.avail_in = got;
        do {
            z.stream.next_out = output.data();
            z.stream.avail_out = kBlock;
            deflate(&z.stream, flush);
            if (!WriteBlock(out, output.data(), kBlock - z.stream.avail_out)) {
                out.CloseNoThrow();
                DeleteFile(target.c_str());
                return -1;
            }
        } while (z.stream.avail_out == 0);
    } while (flush != Z_FINISH);
    if (out.CloseNoThrow() == 0) {
        DeleteFile(target.c_str());
        return -1;
    }
    return 0;
}

int DecompressFile(const tstring& source, const tstring& target) {
    Inflater z;
    int result = inflateInit(&z.stream);
    if (result != Z_OK)
        return result;
    z.live = true;
    HandleHolder in(OpenSource(source));
    if (!in.IsValid())
        return -1;
    HandleHolder out(CreateTarget(target));
    if (!out.IsValid())
        return kInflateTargetFailed;
    std::vector<Bytef> input(kBlock), output(kBlock);
    // The system's reason outlives the clean-up, for the caller to show.
    auto fail = [&](int code) {
        DWORD error = GetLastError();
        out.CloseNoThrow();
        DeleteFile(target.c_str());
        SetLastError(error);
        return code;
    };
    for (;;) {
        DWORD got = 0;
        if (!ReadBlock(in, input, got))
            return fail(-1);
        if (got == 0)
            return -3;  // the stream ended early: what came out so far stays
        z.stream.next_in = input.data();
        z.stream.avail_in = got;
        do {
            z.stream.next_out = output.data();
            z.stream.avail_out = kBlock;
            result = inflate(&z.stream, Z_NO_FLUSH);
            if (result == Z_NEED_DICT || result == Z_DATA_ERROR || result == Z_STREAM_ERROR)
                return fail(-3);
            if (result == Z_MEM_ERROR)
                return fail(-4);
            if (!WriteBlock(out, output.data(), kBlock - z.stream.avail_out))
                return fail(kInflateTargetFailed);
            if (result == Z_STREAM_END)
                return out.CloseNoThrow() ? 0 : fail(kInflateTargetFailed);
        } while (z.stream.avail_out == 0);
    }
}

bool IsZlibFile(const tstring& path) {
    Inflater z;
    if (inflateInit(&z.stream) != Z_OK)
        return false;
    z.live = true;
    HandleHolder in(OpenSource(path));
    if (!in.IsValid())
        return false;
    std::vector<Bytef> input(kBlock), output(kBlock);
    DWORD got = 0;
    if (!ReadBlock(in, input, got) || got == 0)
        return false;
    z.stream.next_in = input.data();
    z.stream.avail_in = got;
    z.stream.next_out = output.data();
    z.stream.avail_out = kBlock;
    int result = inflate(&z.stream, Z_NO_FLUSH);
    return result != Z_NEED_DICT && result != Z_DATA_ERROR && result != Z_MEM_ERROR && result != Z_STREAM_ERROR;
}
