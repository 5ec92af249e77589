// MftTotals IMAGE...             one line per folder of each NTFS image:
//                                path, size, file count, total size, total file count
// MftTotals --volume IMAGE       the volume data the image source answers
// MftTotals --bench IMAGE        records/s of reading the $MFT and of the scan
// Several images are scanned in one process, each headed by "== IMAGE".
// A failure prints its text and the exit code is 1.
#include <windows.h>
#include <winioctl.h>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "diskexplorer/MftScanner.h"
#include "diskexplorer/Volume.h"
#include "tests/diskexplorer/image/ImageVolumeSource.h"

namespace {

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PrintTotals(const MftScanner& model) {
    const auto& records = model.Records();
    for (size_t i = 0; i < records.size(); ++i) {
        const FolderRecord& r = records[i];
        bool shown = i == MftScanner::kRootRecord || (i >= MftScanner::kFirstShownRecord && r.IsFolder());
        if (!shown || !r.IsSeen())
            continue;
        std::wstring path = TrimBackslashes(model.BuildFolderPath(static_cast<uint32_t>(i), L"\\"));
        if (path.empty())
            path = L"\\";
        char numbers[128];
        std::snprintf(numbers, sizeof numbers, "\t%llu\t%lu\t%llu\t%lu\n", (unsigned long long)r.size,
                      (unsigned long)r.fileCount, (unsigned long long)r.totalSize, (unsigned long)r.totalFileCount);
        Print(Utf8(path) + numbers);
    }
}

void PrintVolume(const std::wstring& image) {
    Volume volume(L"\\\\.\\" + image);
    const NTFS_VOLUME_DATA_BUFFER& d = volume.GetNtfsData();
    std::printf("VolumeSerialNumber\t%llu\nNumberSectors\t%lld\nTotalClusters\t%lld\nFreeClusters\t%lld\n"
                "BytesPerSector\t%lu\nBytesPerCluster\t%lu\nBytesPerFileRecordSegment\t%lu\n"
                "ClustersPerFileRecordSegment\t%lu\nMftValidDataLength\t%lld\nMftStartLcn\t%lld\n"
                "Mft2StartLcn\t%lld\n",
                (unsigned long long)d.VolumeSerialNumber.QuadPart, (long long)d.NumberSectors.QuadPart,
                (long long)d.TotalClusters.QuadPart, (long long)d.FreeClusters.QuadPart,
                (unsigned long)d.BytesPerSector, (unsigned long)d.BytesPerCluster,
                (unsigned long)d.BytesPerFileRecordSegment, (unsigned long)d.ClustersPerFileRecordSegment,
                (long long)d.MftValidDataLength.QuadPart, (long long)d.MftStartLcn.QuadPart,
                (long long)d.Mft2StartLcn.QuadPart);
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

void Bench(const std::wstring& image, const ImageBytes& bytes) {
    uint64_t records;
    uint32_t size;
    {
        Volume volume(L"\\\\.\\" + image);
        const NTFS_VOLUME_DATA_BUFFER& d = volume.GetNtfsData();
        size = d.BytesPerFileRecordSegment;
        records = uint64_t(d.MftValidDataLength.QuadPart) / size;
    }
    // Reading every record of the $MFT in order, one request each, as the scan asks for them.
    std::vector<std::pair<uint64_t, uint64_t>> pieces;
    if (!ImageVolumeSource::MftPieces(bytes, pieces))
        throw std::runtime_error("no $MFT");
    std::vector<uint8_t> buffer(size);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    uint64_t read = 0;
    for (const auto& piece : pieces)
        for (uint64_t at = 0; at + size <= piece.second && read < records; at += size, ++read)
            bytes.Read(piece.first + at, buffer.data(), size);
    QueryPerformanceCounter(&end);
    double readSeconds = Seconds(start, end);
    // The same bytes in 1 MiB reads: what the disk gives without a request per record.
    std::vector<uint8_t> chunk(1 << 20);
    QueryPerformanceCounter(&start);
    for (const auto& piece : pieces)
        for (uint64_t at = 0; at < piece.second; at += chunk.size())
            bytes.Read(piece.first + at, chunk.data(), static_cast<size_t>(std::min<uint64_t>(chunk.size(), piece.second - at)));
    QueryPerformanceCounter(&end);
    double chunkSeconds = Seconds(start, end);

    auto model = std::make_unique<MftScanner>(L"\\\\.\\" + image);
    MftScanner* raw = model.release();
    QueryPerformanceCounter(&start);
    raw->Scan();
    QueryPerformanceCounter(&end);
    double scanSeconds = Seconds(start, end);
    // Summing once more (totals double; only its time counts).
    LARGE_INTEGER sumStart, sumEnd;
    QueryPerformanceCounter(&sumStart);
    raw->SumFolders();
    QueryPerformanceCounter(&sumEnd);
    size_t heapBytes = PrivateHeap::AllocatedBytes();
    DeleteModel(raw);
    std::printf("records\t%llu\n", (unsigned long long)records);
    std::printf("read records/s (one read per record)\t%.0f\n", records / readSeconds);
    std::printf("read records/s (1 MiB reads)\t%.0f\n", records / chunkSeconds);
    std::printf("scan records/s (with summing)\t%.0f\n", records / scanSeconds);
    std::printf("scan/read time ratio (one read per record)\t%.2f\n", scanSeconds / readSeconds);
    std::printf("scan/read time ratio (1 MiB reads)\t%.2f\n", scanSeconds / chunkSeconds);
    std::printf("summing s\t%.4f\n", Seconds(sumStart, sumEnd));
    std::printf("private heap bytes/record\t%.1f\n", double(heapBytes) / double(records));
}

int Run(const std::vector<std::wstring>& images, const std::wstring& mode) {
    int exitCode = 0;
    for (const std::wstring& image : images) {
        if (images.size() > 1)
            Print("== " + Utf8(image) + "\n");
        auto bytes = ImageBytes::FromFile(image);
        if (!bytes) {
            Print("cannot open " + Utf8(image) + ": " + Utf8(ModuleErrorText(FoldWin32(GetLastError()))));
            exitCode = 1;
            continue;
        }
        ImageVolumeSource source(bytes);
        VolumeSource::Install(&source);
        MftScanner* model = nullptr;
        try {
            if (mode == L"--volume") {
                PrintVolume(image);
            } else if (mode == L"--bench") {
                Bench(image, *bytes);
            } else {
                model = new MftScanner(L"\\\\.\\" + image);
                model->Scan();
                PrintTotals(*model);
            }
        } catch (const ErrorBase& e) {
            Print("error: " + Utf8(e.Message()) + "\n");
            exitCode = 1;
        } catch (const std::exception& e) {
            Print(std::string("error: ") + e.what() + "\n");
            exitCode = 1;
        }
        DeleteModel(model);
        VolumeSource::Install(nullptr);
    }
    std::fflush(stdout);
    return exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode;
    std::vector<std::wstring> images;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--volume" || arg == L"--bench")
            mode = arg;
        else
            images.push_back(arg);
    }
    if (images.empty()) {
        std::fputs("usage: MftTotals [--volume | --bench] IMAGE...\n", stderr);
        return 2;
    }
    return Run(images, mode);
}
