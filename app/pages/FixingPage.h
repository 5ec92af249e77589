#pragma once
#include <windows.h>
#include <vector>
#include "app/html/HtmlPage.h"
#include "common/system/HandleHolder.h"
#include "common/tstring/tstring.h"
#include "engine/engine.h"

// The page "Fixing.htm": fixes the findings of the last scan, one record at a
// time, on a worker thread inside one fix session of the engine. The worker
// never touches the page: it posts events that the UI thread turns into
// progress, failure rows and the end of the run.
class FixingPage : public HtmlPage {
public:
    FixingPage();
    ~FixingPage() override;
    const wchar_t* PageName() const override { return L"Fixing.htm"; }
    DWORD HelpContextId() const override { return 1; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // Starts the worker over the engine's records; excluded lists the FixIDs
    // the user unchecked, each after one space (" 12 34"). The worker holds
    // the operation lock for its run: false (nothing started, nothing
    // changed) when the lock is taken, as by a fix still running. Raises
    // HRError when the engine cannot be shared with the worker.
    bool StartFix(ICrawler* engine, const tstring& excluded);
    // The same with the operation lock the caller took for this fix: the
    // worker gives it back, or this call does when nothing starts.
    bool StartFixHolding(ICrawler* engine, const tstring& excluded);
    // The view decided to fix and shows this page: from now on the page is
    // busy, though the worker starts only once the page has loaded (and a
    // click handled while it loads must not leave it). StartFix or
    // Unreserve ends it.
    void Reserve() { reserved_ = true; }
    void Unreserve() { reserved_ = false; }
    void Stop() { stop_ = true; }
    bool Running() const { return running_ != 0; }
    // Decided on, running, or its end posted and not yet taken: the page is
    // not left meanwhile, so that the user sees how the fix ended.
    bool Busy() const { return reserved_ || running_ != 0 || endPending_ != 0; }
    // Revokes the engine's entry in the interface table, if it holds one and
    // no worker runs (the next start or the page's end revokes it then).
    void ReleaseEngine();
    DWORD EngineCookie() const { return gitCookie_; }
    // Runs the worker on the calling thread (tests).
    void SetWorkerInline(bool inline_) { workerInline_ = inline_; }

    static std::vector<long> ParseExcluded(const tstring& text);
    // The script text of the "FixFail" event for a record that could not be fixed.
    static tstring FailureRow(const tstring& message, const tstring& keyPath, const tstring& valueName);

private:
    static unsigned __stdcall FixWorker(void* page);
    // Gives the operation lock back when it ends.
    void RunFix();
    bool IsExcluded(long fixId) const;
    bool Post(const wchar_t* name, const VARIANT* param);

    DWORD gitCookie_ = 0;
    std::vector<long> excluded_;
    HandleHolder fixEvent_;
    volatile bool stop_ = false;
    // Set by StartFix, cleared by the worker as its last step.
    volatile LONG running_ = 0;
    // Set by the worker before it posts its end, cleared when the end arrives.
    volatile LONG endPending_ = 0;
    bool workerInline_ = false;
    bool reserved_ = false;
};
