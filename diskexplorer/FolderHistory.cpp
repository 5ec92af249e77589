#include "diskexplorer/FolderHistory.h"

void FolderHistory::Enter(uint32_t current) {
    if (back_.size() > kBackLimit) {
        back_.pop_front();
        if (!back_.empty())
            back_.pop_front();
    }
    back_.push_back(current);
}

void FolderHistory::Up(uint32_t current) {
    back_.push_back(current);
    forward_.clear();
}

int64_t FolderHistory::Move(std::deque<uint32_t>& from, std::deque<uint32_t>& to, uint32_t current, size_t steps) {
    if (steps == 0 || from.size() < steps)
        return -1;
    to.push_back(current);
    for (size_t i = 1; i < steps; ++i) {
        to.push_back(from.back());
        from.pop_back();
    }
    uint32_t shown = from.back();
    from.pop_back();
    return shown;
}

int64_t FolderHistory::Back(uint32_t current, size_t steps) { return Move(back_, forward_, current, steps); }

int64_t FolderHistory::Forward(uint32_t current, size_t steps) { return Move(forward_, back_, current, steps); }

void FolderHistory::Clear() {
    back_.clear();
    forward_.clear();
}
