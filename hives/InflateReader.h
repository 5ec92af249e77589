#pragma once
#include <windows.h>
#include <zlib.h>
#include <vector>
#include "common/system/HandleHolder.h"
#include "common/tstring/tstring.h"

// Reads the inflated bytes of a whole-file zlib stream in order, in constant
// memory: a backup file is checked against the hives it holds without
// writing its pack out again.
class InflateReader {
public:
    // False from every call when the file cannot be opened.
    explicit InflateReader(const tstring& path);
    ~InflateReader();
    InflateReader(const InflateReader&) = delete;
    InflateReader& operator=(const InflateReader&) = delete;

    // Exactly n bytes, or false (damaged, short, or unreadable data).
    bool Read(void* bytes, size_t n);
    // True when the stream has ended and every inflated byte was read.
    bool AtEnd();

private:
    bool Fill();

    HandleHolder file_;
    z_stream stream_ = {};
    bool live_ = false;
    bool ended_ = false;
    bool failed_ = false;
    std::vector<Bytef> input_, output_;
    size_t position_ = 0, available_ = 0;
};
