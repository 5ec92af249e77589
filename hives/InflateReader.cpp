#include "hives/InflateReader.h"
#include <cstring>

namespace {
const DWORD kBlock = 0x40000;
}

InflateReader::InflateReader(const tstring& path)
    : file_(CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                       nullptr)),
      input_(kBlock),
      output_(kBlock) {
    live_ = file_.IsValid() && inflateInit(&stream_) == Z_OK;
    failed_ = !live_;
}

InflateReader::~InflateReader() {
    if (live_)
        inflateEnd(&stream_);
}

// Inflates the next block of output; false at the stream's end or on damage.
bool InflateReader::Fill() {
    if (failed_ || ended_)
        return false;
    stream_.next_out = output_.data();
    stream_.avail_out = kBlock;
    while (stream_.avail_out == kBlock && !ended_) {
        if (stream_.avail_in == 0) {
            DWORD got = 0;
            if (!ReadFile(file_, input_.data(), kBlock, &got, nullptr) || got == 0) {
                failed_ = true;
                return false;
            }
            stream_.next_in = input_.data();
            stream_.avail_in = got;
        }
        int result = inflate(&stream_, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            ended_ = true;
        else if (result != Z_OK && result != Z_BUF_ERROR) {
            failed_ = true;
            return false;
        }
    }
    position_ = 0;
    available_ = kBlock - stream_.avail_out;
    return available_ > 0;
}

bool InflateReader::Read(void* bytes, size_t n) {
    BYTE* target = static_cast<BYTE*>(bytes);
    while (n > 0) {
        if (available_ == 0 && !Fill())
            return false;
        size_t take = n < available_ ? n : available_;
        memcpy(target, output_.data() + position_, take);
        target += take;
        position_ += take;
        available_ -= take;
        n -= take;
    }
    return true;
}

bool InflateReader::AtEnd() {
    if (failed_ || available_ > 0)
        return false;
    if (!ended_)
        Fill();
    return ended_ && !failed_ && available_ == 0;
}
