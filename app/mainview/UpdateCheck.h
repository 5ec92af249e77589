#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include "common/system/HandleHolder.h"
#include "common/tstring/tstring.h"

class DownloadCancel;
class HtmlPage;

// The maker's web site without a trailing slash: HKCU\Software\QUARN\Orvane
// "SiteBase" when it holds an http(s) address, else the built-in one.
tstring ProductSite();
// The information page under path ("<category>" or "<category>/<topic>/<subject>",
// each segment URL-escaped) on that site.
tstring InfoPageAddress(const tstring& path);
// The product version's digits, first three (4.0.1.0 gives "401").
tstring VersionCode();
// A web address made only of URL characters: no quotes, backslash,
// angle brackets, spaces or controls.
bool IsUpdateLink(const tstring& text);

// The script that shows an update reply (narrow text, as received): escaped
// for a script literal; a "[address]" part after the first character
// becomes a link to GoUpdateOnline when the address is a web address.
tstring UpdateReplyScript(const std::string& reply);
// The support page with the user's details, each percent-encoded as UTF-8.
tstring SupportAddress(const tstring& base, const tstring& name, const tstring& mail);

// The update check of the start page: one download worker at a time, ended
// by aborting its download, its result posted to the page as "ShowUpdate"
// with "<check number>|<script>". Its end waits a few seconds at most for the
// worker, so that no download keeps the process alive.
class UpdateChecker {
public:
    UpdateChecker() = default;
    ~UpdateChecker();
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // False when a worker could not be started.
    bool Start(HtmlPage* page);
    // Ends the running check and its download: its result is dropped from now on.
    void Cancel();
    // The script of a posted result when it belongs to the running check
    // (which then ends), else empty.
    tstring Accept(const tstring& posted);
    bool Running() const { return running_; }

    // The file a check downloads to, in the UI cache folder; a check that
    // finds it taken by a worker still running uses a file of its own.
    static tstring TargetFile();
    // Downloads address to file and reads at most 64 KiB of it; false on
    // any failure (connection, HTTP status, cancel, an empty reply).
    static bool Download(const tstring& address, const tstring& file, const std::shared_ptr<DownloadCancel>& cancel,
                         std::string& reply);

private:
    static DWORD WINAPI Worker(void* argument);
    void Wait();

    // The newest worker; each waits a few seconds at most for the one before it.
    HandleHolder thread_;
    // The newest worker's own: a new check never clears an old one's.
    std::shared_ptr<DownloadCancel> cancel_;
    LONG generation_ = 0;
    bool running_ = false;
};
