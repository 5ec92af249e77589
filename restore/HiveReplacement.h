#pragma once
#include <vector>
#include "common/tstring/tstring.h"

// Puts a set of hive files over the hive files of a config folder as one
// step: afterwards either every target holds its new hive, or every target is
// as it was. A machine with half its hives from another time may not boot, so
// each original is first renamed aside in its own folder (a rename on the same
// volume, which cannot half-fail) and the aside copies go only once every new
// hive is in place.
class HiveReplacement {
public:
    explicit HiveReplacement(const tstring& configFolder);
    // Puts the originals back when ReplaceAll did not finish.
    ~HiveReplacement();
    HiveReplacement(const HiveReplacement&) = delete;
    HiveReplacement& operator=(const HiveReplacement&) = delete;

    // source replaces <config folder>\hiveName. A second source for the same
    // hive name is passed over: the first one given wins.
    void Add(const tstring& source, const tstring& hiveName);
    size_t Count() const { return hives_.size(); }

    // Throws ErrorBase "Can't replace file: <target>. <system text>" for the first existing
    // target that another program holds or that may not be written; nothing
    // has moved then.
    void CheckTargets() const;
    // Replaces every hive in the order added. On a failure every target is put
    // back as it was and ErrorBase "Can't replace file: <target>. <system text>" is thrown,
    // naming the aside copies too when one of them could not be put back.
    void ReplaceAll();

private:
    struct Hive {
        tstring source;
        tstring target;
        tstring aside;        // where the original waits; empty while it has not moved
        bool attempted = false;
        bool existed = false;
    };

    void ReplaceHive(Hive& hive);
    void MoveAside(Hive& hive);
    // The names of the files that could not be put back; empty when all were.
    std::vector<tstring> RollBack();
    void DropAsideCopies();

    tstring configFolder_;
    std::vector<Hive> hives_;
    bool finished_ = false;
};
