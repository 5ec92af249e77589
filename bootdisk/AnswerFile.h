#pragma once
#include "common/tstring/tstring.h"

// The builder's answer file "input.inf" (ANSI text): its "[input]" section
// holds the eight keys this program sets for an unattended build. A file the
// user keeps for the builder is merged: every other line stays as it was.
class AnswerFile {
public:
    AnswerFile(const tstring& isoFile, const tstring& sourceFolder, const tstring& outputFolder);

    // Creates the file, or replaces the eight keys in its "[input]" section
    // (adding those that are missing, and the section when there is none).
    // Throws ErrorBase "Can't write to 'input.inf'".
    void Write(const tstring& path) const;

    // The merged text of an existing file (lines end as they ended there).
    std::string Merge(const std::string& existing) const;
    // The text of a new file.
    std::string Create() const;

private:
    struct Key {
        const char* name;
        std::string value;
    };
    Key keys_[8];
};
