#pragma once
#include <cstdint>
#include <deque>

// The back and forward histories of folder record numbers (newest at the end).
class FolderHistory {
public:
    static const size_t kBackLimit = 20;

    // Into a folder: trims the back history, then records the current folder.
    void Enter(uint32_t current);
    // Up to the parent: records the current folder and forgets the forward history.
    void Up(uint32_t current);
    // `steps` back (the drop-down's choice k): the folder to show, or -1 when
    // the back history is shorter.
    int64_t Back(uint32_t current, size_t steps = 1);
    int64_t Forward(uint32_t current, size_t steps = 1);
    void Clear();

    const std::deque<uint32_t>& BackEntries() const { return back_; }
    const std::deque<uint32_t>& ForwardEntries() const { return forward_; }

private:
    static int64_t Move(std::deque<uint32_t>& from, std::deque<uint32_t>& to, uint32_t current, size_t steps);

    std::deque<uint32_t> back_;
    std::deque<uint32_t> forward_;
};
