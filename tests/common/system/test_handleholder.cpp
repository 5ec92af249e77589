#include <doctest/doctest.h>
#include "common/errors/ErrorBase.h"
#include "common/system/HandleHolder.h"

namespace {

bool IsOpenHandle(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE NewEvent() {
    return CreateEvent(nullptr, TRUE, FALSE, nullptr);
}

}  // namespace

TEST_CASE("HandleHolder: no handle means nothing to close") {
    HandleHolder none;
    CHECK_NOTHROW(none.Close());
    HandleHolder invalid(INVALID_HANDLE_VALUE);
    CHECK_FALSE(invalid.IsValid());
    CHECK_NOTHROW(invalid.Close());
    CHECK(invalid.CloseNoThrow() == 1);
}

TEST_CASE("HandleHolder closes its handle exactly once") {
    HANDLE first = NewEvent();
    HandleHolder holder(first);
    holder.Close();
    CHECK_FALSE(IsOpenHandle(first));
    CHECK(holder.Get() == nullptr);
    // The system hands out the freed value again; a second close by the
    // holder would close somebody else's handle.
    HANDLE reused = NewEvent();
    HandleHolder other(reused);
    holder.Close();
    holder.CloseNoThrow();
    CHECK(IsOpenHandle(reused));
}

TEST_CASE("HandleHolder: a failed close throws once and forgets the handle") {
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FF0));
    HandleHolder holder(bogus);
    CHECK_THROWS_AS(holder.Close(), BoolError);
    CHECK_FALSE(holder.IsValid());
    CHECK_NOTHROW(holder.Close());
    HandleHolder quiet(bogus);
    CHECK(quiet.CloseNoThrow() == 0);
    CHECK(quiet.CloseNoThrow() == 1);
}

TEST_CASE("HandleHolder: attach, detach and move") {
    HANDLE a = NewEvent();
    HANDLE b = NewEvent();
    HandleHolder holder(a);
    holder.Attach(b);
    CHECK_FALSE(IsOpenHandle(a));
    CHECK(holder.Get() == b);
    holder.Attach(b);
    CHECK(IsOpenHandle(b));

    HandleHolder moved(std::move(holder));
    CHECK(holder.Get() == nullptr);
    CHECK(moved.Get() == b);
    HandleHolder target(NewEvent());
    HANDLE replaced = target.Get();
    target = std::move(moved);
    CHECK_FALSE(IsOpenHandle(replaced));
    CHECK(target.Get() == b);

    HANDLE detached = target.Detach();
    CHECK(target.Get() == nullptr);
    CHECK(IsOpenHandle(detached));
    CloseHandle(detached);
    {
        HandleHolder scoped(NewEvent());
        detached = scoped.Get();
    }
    CHECK_FALSE(IsOpenHandle(detached));
}

TEST_CASE("FindHandleHolder closes its search once") {
    TCHAR folder[MAX_PATH];
    GetTempPath(MAX_PATH, folder);
    lstrcat(folder, _T("*"));
    WIN32_FIND_DATA data;
    HANDLE find = FindFirstFile(folder, &data);
    REQUIRE(find != INVALID_HANDLE_VALUE);
    FindHandleHolder holder(find);
    CHECK(holder.IsValid());
    holder.Close();
    CHECK_FALSE(holder.IsValid());
    CHECK_NOTHROW(holder.Close());
    FindHandleHolder none(INVALID_HANDLE_VALUE);
    CHECK(none.CloseNoThrow() == 1);
}
