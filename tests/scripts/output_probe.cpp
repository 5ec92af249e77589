// Writes what the launcher's test asks for, with WriteFile on the standard
// handles (no C runtime translation):
//   output_probe chunks N STATUS  N chunks of 64 KiB to stdout and to stderr
//                                 in turns, every byte value in them; exits
//                                 with STATUS
//   output_probe lines N          N numbered lines to stdout and stderr in turns
//   output_probe args ...         each further argument on a line of its own
//   output_probe runs FILE        adds a line to FILE, prints "run N" for the
//                                 Nth run with that file and exits with N
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

void Write(DWORD which, const void* data, DWORD size) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), data, size, &written, nullptr);
}

// Byte j of chunk i of a stream: the Python check computes the same.
std::vector<unsigned char> Chunk(int stream, int i) {
    std::vector<unsigned char> bytes(65536);
    for (size_t j = 0; j < bytes.size(); ++j)
        bytes[j] = static_cast<unsigned char>(j * 7 + i * 31 + stream * 101);
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int count = argc > 2 ? _wtoi(argv[2]) : 0;
    if (argc > 3 && wcscmp(argv[1], L"chunks") == 0) {
        for (int i = 0; i < count; ++i) {
            std::vector<unsigned char> out = Chunk(1, i), err = Chunk(2, i);
            Write(STD_OUTPUT_HANDLE, out.data(), DWORD(out.size()));
            Write(STD_ERROR_HANDLE, err.data(), DWORD(err.size()));
        }
        return _wtoi(argv[3]);
    }
    if (argc > 2 && wcscmp(argv[1], L"lines") == 0) {
        for (int i = 0; i < count; ++i) {
            char line[32];
            int size = snprintf(line, sizeof line, "line %d\n", i);
            Write(i % 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, line, DWORD(size));
        }
        return 0;
    }
    if (argc > 1 && wcscmp(argv[1], L"args") == 0) {
        for (int i = 2; i < argc; ++i) {
            char line[512];
            int size = snprintf(line, sizeof line, "%ls\n", argv[i]);
            Write(STD_OUTPUT_HANDLE, line, DWORD(size));
        }
        return 0;
    }
    if (argc > 2 && wcscmp(argv[1], L"runs") == 0) {
        FILE* file = _wfopen(argv[2], L"a+");
        if (!file)
            return 2;
        int runs = 1;
        for (int c; (c = fgetc(file)) != EOF;)
            runs += c == '\n';
        fputs("run\n", file);
        fclose(file);
        char line[32];
        int size = snprintf(line, sizeof line, "run %d\n", runs);
        Write(STD_OUTPUT_HANDLE, line, DWORD(size));
        return runs;
    }
    return 2;
}
