#include <windows.h>
#include <functional>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>
#include "doctest/doctest.h"
#include "common/errors/ErrorBase.h"
#include "diskexplorer/DriveList.h"
#include "diskexplorer/DriveSource.h"
#include "diskexplorer/MftScanner.h"
#include "diskexplorer/Volume.h"
#include "tests/diskexplorer/image/ImageVolumeSource.h"
#include "tests/diskexplorer/image/TestImages.h"

namespace {

const std::vector<uint8_t>& SmallImage() {
    static const std::vector<uint8_t> bytes = LoadTestImage(L"small.img");
    return bytes;
}

struct InstalledSource {
    explicit InstalledSource(VolumeSource* source) { VolumeSource::Install(source); }
    ~InstalledSource() { VolumeSource::Install(nullptr); }
};

struct Model {
    MftScanner* scanner = new MftScanner(L"\\\\.\\C:");
    ~Model() { DeleteModel(scanner); }
    MftScanner* operator->() { return scanner; }
};

struct Progress : ScanListener {
    std::vector<std::pair<int, int>>* log;
    int id;
    int stopAt;
    Progress(std::vector<std::pair<int, int>>* log, int id, int stopAt = 0) : log(log), id(id), stopAt(stopAt) {}
    bool OnScanProgress(int32_t percent) override {
        log->push_back({id, percent});
        return percent != stopAt;
    }
};

uint64_t RecordCount(const ImageBytes& image) {
    ImageVolumeSource source(std::shared_ptr<ImageBytes>(const_cast<ImageBytes*>(&image), [](ImageBytes*) {}));
    InstalledSource installed(&source);
    Volume volume(L"\\\\.\\C:");
    return uint64_t(volume.GetNtfsData().MftValidDataLength.QuadPart) / volume.GetNtfsData().BytesPerFileRecordSegment;
}

// The record number whose first name is `name`, from a clean scan.
uint32_t RecordNamed(MftScanner& model, const wchar_t* name) {
    const auto& records = model.Records();
    for (size_t i = 0; i < records.size(); ++i)
        if (!records[i].names.empty() && records[i].names[0].Text() == name)
            return static_cast<uint32_t>(i);
    FAIL("no record named " << tstring(name).c_str());
    return 0;
}

// Rewrites record `number` with its fix-ups taken off and put back around `edit`.
void EditRecord(PatchedImage& image, uint64_t number, const std::function<void(uint8_t*, uint32_t)>& edit,
                bool keepFixups = true) {
    uint64_t offset;
    uint32_t size;
    REQUIRE(ImageVolumeSource::LocateRecord(PatchedImage(SmallImage()), number, offset, size));
    std::vector<uint8_t> record(size);
    if (!image.Read(offset, record.data(), size))
        return;  // cut off by a truncation
    bool fixed = keepFixups && ApplyFixups(record.data(), size);
    edit(record.data(), size);
    if (fixed)
        StoreFixups(record.data(), size);
    image.Patch(offset, record.data(), size);
}

// Offsets of the attributes of a record (fix-ups applied) up to its end marker.
std::vector<uint32_t> AttributeOffsets(const uint8_t* record, uint32_t size, uint32_t type = 0) {
    std::vector<uint32_t> found;
    uint32_t at = *reinterpret_cast<const uint16_t*>(record + 0x14);
    while (at + 8 <= size) {
        uint32_t kind = *reinterpret_cast<const uint32_t*>(record + at);
        uint32_t length = *reinterpret_cast<const uint32_t*>(record + at + 4);
        if (kind == 0xFFFFFFFF || length < 16 || at + length > size)
            break;
        if (!type || kind == type)
            found.push_back(at);
        at += length;
    }
    return found;
}

void Put32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }
void Put64(uint8_t* at, uint64_t v) { std::memcpy(at, &v, 8); }

// Scans an image; the model stays for the caller's checks.
struct ImageScan {
    ImageVolumeSource source;
    InstalledSource installed{&source};
    Model model;
    explicit ImageScan(std::shared_ptr<ImageBytes> image) : source(std::move(image)) {}
    bool Run() { return model->Scan(); }
};

std::shared_ptr<ImageBytes> Shared(PatchedImage& image) {
    return std::shared_ptr<ImageBytes>(&image, [](ImageBytes*) {});
}

}  // namespace

TEST_CASE("each record in use costs one call; progress steps by one in key order; a stop sums nothing") {
    REQUIRE(!SmallImage().empty());
    PatchedImage image(SmallImage());
    const uint64_t count = RecordCount(image);
    uint64_t inUse = 0;
    for (uint64_t n = 1; n < count; ++n) {
        uint64_t offset;
        uint32_t size;
        REQUIRE(ImageVolumeSource::LocateRecord(image, n, offset, size));
        inUse += std::memcmp(&SmallImage()[offset], "FILE", 4) == 0 && (SmallImage()[offset + 0x16] & 1);
    }
    REQUIRE(inUse < count - 1);  // the image has gaps

    SUBCASE("a whole scan") {
        ImageScan scan(Shared(image));
        std::vector<std::pair<int, int>> log;
        Progress first(&log, 1), second(&log, 2);
        scan.model->AddListener(&first);
        scan.model->AddListener(&second);
        CHECK(scan.Run());
        CHECK(scan.source.RecordCalls() == inUse);
        REQUIRE(!log.empty());
        CHECK(log.size() <= 200);
        for (size_t i = 0; i < log.size(); ++i) {
            CHECK(log[i].first == (i % 2 ? 2 : 1));
            CHECK(log[i].second == int(i / 2 + 1));
        }
        CHECK(scan.model->Record(MftScanner::kRootRecord)->totalFileCount > 0);
    }
    SUBCASE("stopped by the first listener") {
        ImageScan scan(Shared(image));
        std::vector<std::pair<int, int>> log;
        Progress first(&log, 1, 3), second(&log, 2), third(&log, 3);
        scan.model->AddListener(&first);
        int key = scan.model->AddListener(&second);
        scan.model->AddListener(&third);
        scan.model->RemoveListener(key);
        CHECK_FALSE(scan.Run());
        std::vector<std::pair<int, int>> expected{{1, 1}, {3, 1}, {1, 2}, {3, 2}, {1, 3}, {3, -1}};
        CHECK(log == expected);
        CHECK(scan.model->Record(MftScanner::kRootRecord)->totalFileCount == 0);
    }
    SUBCASE("a stop request is heard before the next record") {
        ImageScan scan(Shared(image));
        struct : ScanListener { bool OnScanProgress(int32_t) override { return true; } bool StopRequested() override { return true; } } stop;
        scan.model->AddListener(&stop);
        CHECK((!scan.Run() && scan.source.RecordCalls() == 0));
    }
}

TEST_CASE("malformed records, numbers and volume data are contained") {
    PatchedImage clean(SmallImage());
    uint32_t deep, readme, docs, sub;
    uint64_t count = RecordCount(clean);
    {
        ImageScan scan(Shared(clean));
        REQUIRE(scan.Run());
        deep = RecordNamed(*scan.model.scanner, L"deep.bin");
        readme = RecordNamed(*scan.model.scanner, L"readme.txt");
        docs = RecordNamed(*scan.model.scanner, L"docs");
        sub = RecordNamed(*scan.model.scanner, L"sub");
        CHECK(scan.model->Record(docs)->fileCount == 1);
        CHECK(scan.model->Record(sub)->fileCount == 1);
    }
    PatchedImage image(SmallImage());
    ImageScan scan(Shared(image));

    SUBCASE("an attribute of length 0 leaves its record out") {
        EditRecord(image, deep, [](uint8_t* r, uint32_t size) { Put32(r + AttributeOffsets(r, size).back() + 4, 0); });
        CHECK(scan.Run());
        CHECK_FALSE(scan.model->Record(deep)->IsSeen());
        CHECK(scan.model->Record(sub)->fileCount == 0);
    }
    SUBCASE("no end marker, or a value past its attribute") {
        EditRecord(image, deep, [](uint8_t* r, uint32_t size) {
            uint32_t end = AttributeOffsets(r, size).back() + *reinterpret_cast<uint32_t*>(r + AttributeOffsets(r, size).back() + 4);
            std::memset(r + end, 0x11, size - end);
        });
        EditRecord(image, readme, [](uint8_t* r, uint32_t size) {
            Put32(r + AttributeOffsets(r, size, 0x30)[0] + 0x10, 0x7FFFFFF0);
        });
        CHECK(scan.Run());
        CHECK_FALSE(scan.model->Record(deep)->IsSeen());
        CHECK_FALSE(scan.model->Record(readme)->IsSeen());
    }
    SUBCASE("a bad fix-up is a read error: the record is skipped in one call") {
        EditRecord(image, deep, [](uint8_t* r, uint32_t) { r[510] ^= 0xFF; }, false);
        CHECK(scan.Run());
        CHECK_FALSE(scan.model->Record(deep)->IsSeen());
        CHECK(scan.model->Record(readme)->IsSeen());
    }
    SUBCASE("a delivered number above the one asked is not entered") {
        EditRecord(image, deep, [](uint8_t* r, uint32_t) { Put32(r + 0x2C, 0x00FFFFFF); });
        CHECK(scan.Run());
        CHECK_FALSE(scan.model->Record(deep)->IsSeen());
    }
    SUBCASE("base and parent references beyond the table") {
        EditRecord(image, deep, [&](uint8_t* r, uint32_t) { Put64(r + 0x20, count + 7); });
        EditRecord(image, readme, [&](uint8_t* r, uint32_t size) {
            for (uint32_t at : AttributeOffsets(r, size, 0x30))
                Put64(r + at + *reinterpret_cast<uint16_t*>(r + at + 0x14), (uint64_t(9) << 48) | (count + 3));
        });
        CHECK(scan.Run());
        CHECK_FALSE(scan.model->Record(deep)->IsSeen());
        CHECK(scan.model->Record(readme)->names.empty());
        CHECK(scan.model->Record(docs)->fileCount == 0);
    }
    SUBCASE("a parent cycle ends every walk") {
        EditRecord(image, docs, [&](uint8_t* r, uint32_t size) {
            for (uint32_t at : AttributeOffsets(r, size, 0x30))
                Put64(r + at + *reinterpret_cast<uint16_t*>(r + at + 0x14), (uint64_t(1) << 48) | sub);
        });
        CHECK(scan.Run());
        // deep.bin counts once in each folder of the cycle, and not in the root.
        CHECK(scan.model->Record(sub)->totalFileCount == 2);
        CHECK(scan.model->Record(docs)->totalFileCount == 2);
        CHECK(scan.model->BuildFolderPath(sub, L"C:\\") == L"C:\\docs\\sub\\");
        CHECK(scan.model->FindFolderByPath(L"C:\\docs", L"C:\\") == -1);
    }
    SUBCASE("volume data that cannot be a table") {
        uint64_t offset;
        uint32_t size;
        REQUIRE(ImageVolumeSource::LocateRecord(clean, 0, offset, size));
        auto setLength = [&](uint64_t length) {
            EditRecord(image, 0, [&](uint8_t* r, uint32_t size) { Put64(r + AttributeOffsets(r, size, 0x80)[0] + 0x38, length); });
        };
        SUBCASE("60,000,000 records") {
            setLength(60000000ull * size);
            CHECK_THROWS_AS(scan.Run(), std::length_error);
            CHECK(PrivateHeap::AllocatedBytes() < 0x100000);
            CHECK(scan.source.RecordCalls() == 0);
        }
        SUBCASE("no records") {
            setLength(size - 1);
            try {
                scan.Run();
                FAIL("scanned");
            } catch (const ErrorBase& e) {
                CHECK(e.Code() == FoldWin32(ERROR_DISK_CORRUPT));
            }
        }
    }
}

TEST_CASE("2,000 damaged variants of an image each end with figures or an error") {
    std::mt19937 random(20261208);
    auto pick = [&](uint64_t n) { return static_cast<uint64_t>(random() % n); };
    PatchedImage clean(SmallImage());
    const uint64_t count = RecordCount(clean);
    std::vector<uint64_t> inUse;
    for (uint64_t n = 0; n < count; ++n) {
        uint64_t offset;
        uint32_t size;
        REQUIRE(ImageVolumeSource::LocateRecord(clean, n, offset, size));
        if (SmallImage()[offset + 0x16] & 1)
            inUse.push_back(n);
    }
    int finished = 0, failed = 0;
    for (int run = 0; run < 2000; ++run) {
        PatchedImage image(SmallImage());
        for (uint64_t changes = 1 + pick(3); changes > 0; --changes) {
            uint64_t target = inUse[pick(inUse.size())];
            uint64_t kind = pick(9);
            if (kind == 8) {
                uint64_t offset;
                uint32_t size;
                ImageVolumeSource::LocateRecord(clean, target, offset, size);
                image.Truncate(offset + pick(size));
                continue;
            }
            EditRecord(image, target, [&](uint8_t* r, uint32_t size) {
                std::vector<uint32_t> attributes = AttributeOffsets(r, size);
                uint32_t at = attributes.empty() ? 0x38 : attributes[pick(attributes.size())];
                switch (kind) {
                case 0: Put32(r + at + 4, uint32_t(pick(3) == 0 ? 0 : random())); break;      // attribute length
                case 1: Put32(r + at + 0x10, uint32_t(random())); break;                        // value length
                case 2: r[at + 0x14] = uint8_t(random()); break;                                // value offset
                case 3: Put32(r + at, uint32_t(random() % 0x100)); break;                       // type, end marker
                case 4: Put64(r + 0x20, pick(2) ? count + pick(100) : pick(count)); break;     // base reference
                case 5:                                                                         // parent: anywhere, a cycle
                    for (uint32_t name : AttributeOffsets(r, size, 0x30))
                        Put64(r + name + r[name + 0x14], inUse[pick(inUse.size())] + (pick(4) ? 0 : count));
                    break;
                case 6: r[0x16] &= 0xFE; break;                                                 // not in use
                default: r[pick(size)] = uint8_t(random()); break;                              // any byte
                }
            }, kind != 7 || pick(2));
        }
        ImageScan scan(Shared(image));
        ULONGLONG start = GetTickCount64();
        try {
            scan.Run();
            for (size_t i = 0; i < scan.model->Records().size(); ++i)
                scan.model->BuildFolderPath(static_cast<uint32_t>(i), L"C:\\");
            scan.model->FindFolderByPath(L"C:\\docs\\sub", L"C:\\");
            ++finished;
        } catch (const ErrorBase&) {
            ++failed;
        } catch (const std::exception&) {
            ++failed;
        }
        CHECK(GetTickCount64() - start < 10000);
    }
    CHECK(finished + failed == 2000);
    CHECK(finished > 1000);
}

namespace {
struct FakeDrives : DriveSource {
    struct Drive {
        UINT type;
        DWORD mediaError;
        std::vector<DWORD> media;
    };
    std::map<wchar_t, Drive> drives;
    DWORD LogicalDrives() const override {
        DWORD mask = 0;
        for (auto& d : drives)
            mask |= 1u << (d.first - L'A');
        return mask;
    }
    UINT DriveType(const tstring& root) const override { return drives.at(root[0]).type; }
    DWORD MediaTypes(wchar_t letter, std::vector<DWORD>& types) const override {
        types = drives.at(letter).media;
        return drives.at(letter).mediaError;
    }
    tstring FileSystemName(const tstring&) const override { return L"NTFS"; }
    bool DosDeviceTarget(const tstring&, tstring&) const override { return false; }
};
}  // namespace

TEST_CASE("drive kinds and the drive list") {
    FakeDrives fake;
    const DWORD floppy = 2 /* F3_1Pt44_512 */, removable = 11, fixed = 12;
    fake.drives = {{L'A', {DRIVE_REMOVABLE, 0, {floppy, 5}}},
                   {L'B', {DRIVE_REMOVABLE, 0, {fixed, removable}}},
                   {L'C', {DRIVE_FIXED, 0, {}}},
                   {L'D', {DRIVE_REMOVABLE, ERROR_NOT_SUPPORTED, {}}},
                   {L'E', {DRIVE_REMOVABLE, ERROR_ACCESS_DENIED, {}}},
                   {L'F', {DRIVE_CDROM, 0, {}}},
                   {L'G', {DRIVE_REMOTE, 0, {}}},
                   {L'H', {DRIVE_RAMDISK, 0, {}}},
                   {L'I', {DRIVE_NO_ROOT_DIR, 0, {}}}};
    DriveSource::Install(&fake);
    std::vector<uint32_t> kinds;
    for (wchar_t letter = L'A'; letter <= L'I'; ++letter)
        kinds.push_back(ClassifyDrive(letter));
    CHECK(kinds == std::vector<uint32_t>{1, 2, 4, 2, 0, 8, 32, 64, 0});
    DriveList list;
    CHECK(list.EnumDrives(DriveFixed | DriveRemote) == 2);
    CHECK(list.Drives()[0].letter == L'C');
    CHECK(list.Drives()[1].kind == DriveRemote);
    fake.drives.clear();
    CHECK_THROWS_AS(list.EnumDrives(0xFF), Win32Error);
    DriveSource::Install(nullptr);
}
