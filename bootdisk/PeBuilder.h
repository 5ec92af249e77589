#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The outside CD builder "pebuilder.exe" in its installation folder: where
// this program's plug-in, the answer file and the build output go, and one
// unattended build.
class PeBuilder {
public:
    explicit PeBuilder(const tstring& folder) : folder_(folder) {}

    // The folder of the uninstall entry "PE Builder_is1"; empty when there is none.
    static tstring InstalledFolder();

    tstring PluginFolder() const { return folder_ + L"\\plugin\\QUARN Orvane"; }
    tstring AnswerFilePath() const { return folder_ + L"\\input.inf"; }
    tstring OutputFolder() const { return folder_ + L"\\QUARN_temp"; }

    // Copies every file of source into the plug-in folder, overwriting.
    // Throws ErrorBase "Can't find QUARN Orvane plugin folder" when source
    // holds no entries, "Can't copy plugin files" when a copy fails.
    void InstallPlugin(const tstring& source) const;

    // Starts the builder in its folder and waits for its end, however long
    // the build takes; returns its exit code. Throws ErrorBase "Can't start
    // PE Builder".
    DWORD Build() const;

    // Deletes the output folder on a thread of its own, so that a slow delete
    // of a large tree holds nobody up.
    void DeleteOutputLater() const;

private:
    tstring folder_;
};
