#include "diskexplorer/FolderFigures.h"

tstring FormatGrouped(int64_t value) {
    tstring text = FormatText(L"%I64d", value);
    size_t digitsStart = value < 0 ? 1 : 0;
    for (size_t at = text.size(); at >= digitsStart + 4; at -= 3)
        text.insert(at - 3, 1, L' ');
    return text;
}

uint32_t SharePercent(uint64_t part, uint64_t whole) {
    if (whole == 0)
        return 0;
    // part can be larger than whole (a hard-linked file counts in several folders).
    uint64_t percent = part >= UINT64_MAX / 100 ? part / (whole / 100 ? whole / 100 : 1) : part * 100 / whole;
    if (percent == 0 && part != 0)
        percent = 1;
    return static_cast<uint32_t>(percent > 100 ? 100 : percent);
}

int ShareImage(uint32_t percent) {
    static const struct {
        uint32_t upTo;
        int image;
    } steps[] = {{12, 11}, {14, 12}, {16, 13}, {19, 14}, {22, 15}, {33, 16}, {42, 17}, {49, 18}, {51, 19},
                 {59, 20}, {66, 21}, {72, 22}, {78, 23}, {84, 24}, {90, 25}, {94, 26}, {96, 27}, {98, 28}};
    if (percent <= 10)
        return static_cast<int>(percent);
    for (const auto& step : steps)
        if (percent <= step.upTo)
            return step.image;
    return 29;
}
