#pragma once
#include <windows.h>
#include <vector>
#include "app/html/HtmlPage.h"
#include "common/com/ComPtr.h"
#include "engine/engine.h"

// The page "emergency.htm": builds a bootable emergency CD image with the
// outside builder and this program's plug-in (the offline restore program),
// then burns it with cdrecord. The build runs on a thread of its own and
// holds the operation lock until its end arrives as "BuilderFinish"; the burn
// streams the tool's output into the page from the UI thread.
class EmergencyDiskPage : public HtmlPage {
public:
    EmergencyDiskPage() = default;
    ~EmergencyDiskPage() override;

    const wchar_t* PageName() const override { return L"emergency.htm"; }
    DWORD HelpContextId() const override { return 11; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // The engine that keeps the folders between visits; NULL: one is made
    // when needed.
    void SetEngine(ICrawler* engine) { engine_ = engine; }
    // A build or a burn is running: the page must not be left.
    bool Busy() const { return building_ || burning_; }
    // Whether the page holds the operation lock for a build.
    bool HoldsLock() const { return lockHeld_; }
    // The bus addresses of the last device scan, in the page's option order.
    const std::vector<tstring>& Devices() const { return devices_; }

private:
    void Load();
    void StartBuild(const tstring& param);
    void PrepareBuild(const tstring& param);
    void FinishBuild(VARIANT* param);
    void BrowseForFolder(const tstring& id);
    void BrowseForFile();
    void ScanDevices(const tstring& folder);
    void Burn(const tstring& param);
    void RunBurn(const tstring& param);

    static unsigned __stdcall BuilderThread(void* page);
    void RunBuilder();
    ComPtr<ICrawler> Engine();
    // Stores the build's folders in the engine, those that differ from the
    // ones it gave when the page loaded: a folder left alone may have been
    // changed by another process since.
    void PutChangedFolders(const tstring& windowsFolder, const tstring& builderFolder);
    void ShowError(const tstring& text);

    tstring peBuilderFolder_;
    tstring isoFile_;
    tstring windowsFolder_;
    std::vector<tstring> devices_;
    // The engine's folders as the last load read them; unread ones are put.
    tstring shownWindows_;
    tstring shownBuilder_;
    bool windowsShown_ = false;
    bool builderShown_ = false;
    ComPtr<ICrawler> engine_;
    HANDLE builder_ = nullptr;
    volatile bool building_ = false;
    bool burning_ = false;
    bool lockHeld_ = false;
};
