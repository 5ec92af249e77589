#include "bootdisk/AnswerFile.h"
#include <windows.h>
#include <cstring>
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/system/HandleHolder.h"

namespace {

const char kSection[] = "[input]";
const char kWriteFailed[] = "Can't write to 'input.inf'";

[[noreturn]] void Fail() { throw ErrorBase(E_FAIL, tstring::FromNarrow(kWriteFailed)); }

// The builder reads the file in the ANSI code page: a path it cannot hold
// there would name another folder, so it is refused rather than mangled.
std::string Ansi(const tstring& text) {
    if (text.empty()) return std::string();
    BOOL lossy = FALSE;
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, &lossy);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), &out[0], size, nullptr, &lossy);
    if (size <= 0 || lossy) Fail();
    return out;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameKey(const std::string& a, const char* b) { return _stricmp(a.c_str(), b) == 0; }

struct Line {
    std::string text;
    std::string ending;
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back({text.substr(start), std::string()});
            break;
        }
        size_t body = (end > start && text[end - 1] == '\r') ? end - 1 : end;
        lines.push_back({text.substr(start, body - start), text.substr(body, end + 1 - body)});
        start = end + 1;
    }
    return lines;
}

bool IsSectionHeader(const std::string& line) {
    std::string trimmed = Trim(line);
    return !trimmed.empty() && trimmed[0] == '[';
}

}  // namespace

AnswerFile::AnswerFile(const tstring& isoFile, const tstring& sourceFolder, const tstring& outputFolder)
    : keys_{{"buildiso", "1"},
            {"isofile", Ansi(isoFile)},
            {"outdir", "QUARN_temp"},
            {"source", Ansi(sourceFolder)},
            {"customdir", ""},
            {"burncd", "0"},
            {"skipregistry", "0"},
            {"fulloutdir", Ansi(outputFolder)}} {}

std::string AnswerFile::Create() const {
    std::string text = std::string(kSection) + "\r\n";
    for (const Key& key : keys_) text += std::string(key.name) + "=" + key.value + "\r\n";
    return text;
}

std::string AnswerFile::Merge(const std::string& existing) const {
    std::vector<Line> lines = SplitLines(existing);
    bool written[8] = {};
    bool inInput = false;
    bool sawInput = false;
    std::string out;
    // The keys not yet in the section go at its end, before the next header.
    auto addMissing = [&](const std::string& ending) {
        for (int i = 0; i < 8; ++i)
            if (!written[i]) {
                out += std::string(keys_[i].name) + "=" + keys_[i].value + ending;
                written[i] = true;
            }
    };
    for (const Line& line : lines) {
        if (IsSectionHeader(line.text)) {
            if (inInput) addMissing("\r\n");
            inInput = SameKey(Trim(line.text), kSection);
            sawInput = sawInput || inInput;
            out += line.text + line.ending;
            continue;
        }
        size_t equals = line.text.find('=');
        if (inInput && equals != std::string::npos) {
            std::string name = Trim(line.text.substr(0, equals));
            int match = -1;
            for (int i = 0; i < 8 && match < 0; ++i)
                if (SameKey(name, keys_[i].name)) match = i;
            if (match >= 0) {
                // A key given twice is written once.
                if (!written[match])
                    out += std::string(keys_[match].name) + "=" + keys_[match].value +
                           (line.ending.empty() ? "\r\n" : line.ending);
                written[match] = true;
                continue;
            }
        }
        out += line.text + line.ending;
    }
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    if (!sawInput) out += std::string(kSection) + "\r\n";
    addMissing("\r\n");
    return out;
}

void AnswerFile::Write(const tstring& path) const {
    std::string text;
    HandleHolder reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (reader.IsValid()) {
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(reader, &size) || size.QuadPart > 16 * 1024 * 1024) Fail();
        std::string existing(size_t(size.QuadPart), '\0');
        DWORD read = 0;
        if (!existing.empty() && (!ReadFile(reader, &existing[0], DWORD(existing.size()), &read, nullptr) ||
                                  read != existing.size()))
            Fail();
        reader.CloseNoThrow();
        text = Merge(existing);
    } else {
        text = Create();
    }
    HandleHolder writer(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!writer.IsValid() || !WriteFile(writer, text.data(), DWORD(text.size()), &written, nullptr) ||
        written != text.size())
        Fail();
    if (!writer.CloseNoThrow()) Fail();
}
