#include <doctest/doctest.h>
#include <process.h>
#include <cstring>
#include <string>
#include <vector>
#include "common/system/SharedBuffer.h"

namespace {

std::string Text(const SharedBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

SharedBuffer From(const char* text) {
    return SharedBuffer(text, uint32_t(std::strlen(text)));
}

}  // namespace

TEST_CASE("SharedBuffer construction") {
    SharedBuffer empty(0u);
    CHECK(empty.Data() == nullptr);
    CHECK(empty.Capacity() == 0);
    CHECK(empty.RefCount() == 0);
    empty.Release();
    CHECK(empty.Size() == 0);

    SharedBuffer zeros(5u);
    CHECK(zeros.Size() == 5);
    CHECK(zeros.Capacity() == 5);
    CHECK(Text(zeros) == std::string(5, '\0'));
    CHECK(zeros.RefCount() == 1);

    SharedBuffer bytes = From("hello");
    CHECK(Text(bytes) == "hello");
    SharedBuffer none(nullptr, 0);
    CHECK(none.Data() == nullptr);
}

TEST_CASE("SharedBuffer copies share one block; assigning to itself changes nothing") {
    SharedBuffer a = From("shared");
    const SharedBuffer& ca = a;
    SharedBuffer b(a);
    CHECK(b.RefCount() == 2);
    CHECK(static_cast<const SharedBuffer&>(b).Data() == ca.Data());
    SharedBuffer c;
    c = b;
    CHECK(a.RefCount() == 3);
    c = c;
    c.Assign(a);
    CHECK(a.RefCount() == 3);
    c = SharedBuffer();
    CHECK(a.RefCount() == 2);
    CHECK(c.Data() == nullptr);
    b.Release();
    CHECK(a.RefCount() == 1);
    CHECK(Text(a) == "shared");

    SharedBuffer moved(std::move(a));
    CHECK(a.Data() == nullptr);
    CHECK(moved.RefCount() == 1);
    CHECK(Text(moved) == "shared");
}

TEST_CASE("SharedBuffer copies a shared block before any write") {
    SharedBuffer a = From("original");
    SharedBuffer b(a);
    BYTE* writable = b.Data();
    writable[0] = 'O';
    CHECK(Text(a) == "original");
    CHECK(Text(b) == "Original");
    CHECK(a.RefCount() == 1);
    CHECK(b.RefCount() == 1);
    // A private block is written in place.
    CHECK(b.Data() == writable);
}

TEST_CASE("SharedBuffer::Reserve and Resize") {
    SharedBuffer a = From("abcd");
    SharedBuffer b(a);

    SUBCASE("growing makes the buffer private; the other owners keep their data") {
        b.Reserve(100);
        CHECK(b.Capacity() == 100);
        CHECK(b.Size() == 4);
        CHECK(a.RefCount() == 1);
        CHECK(b.RefCount() == 1);
        std::memcpy(b.Data(), "WXYZ", 4);
        CHECK(Text(a) == "abcd");
        CHECK(Text(b) == "WXYZ");
    }
    SUBCASE("reserving what is there keeps the block shared") {
        b.Reserve(4);
        CHECK(a.RefCount() == 2);
    }
    SUBCASE("the capacity never drops below the size") {
        b.Reserve(2);
        CHECK(b.Capacity() == 4);
        CHECK(b.Size() == 4);
        CHECK(Text(b) == "abcd");
    }
    SUBCASE("resizing within the capacity only changes this owner's size") {
        b.Resize(2);
        CHECK(Text(b) == "ab");
        CHECK(Text(a) == "abcd");
        CHECK(a.RefCount() == 2);
        b.Resize(6);
        CHECK(b.Capacity() == 6);
        CHECK(b.Size() == 6);
        CHECK(Text(b).substr(0, 4) == "abcd");
        CHECK(a.RefCount() == 1);
    }
    SUBCASE("assigning a copy with another size takes that size") {
        b.Resize(1);
        b = a;
        CHECK(b.Size() == 4);
    }
}

TEST_CASE("SharedBuffer copies made and released on several threads keep the count") {
    SharedBuffer source = From("threads");
    struct Work {
        SharedBuffer* source;
    } work{&source};
    std::vector<HANDLE> threads;
    for (int i = 0; i < 4; ++i) {
        threads.push_back(reinterpret_cast<HANDLE>(_beginthreadex(
            nullptr, 0,
            [](void* p) -> unsigned {
                const SharedBuffer& shared = *static_cast<Work*>(p)->source;
                std::vector<SharedBuffer> copies;
                for (int n = 0; n < 100; ++n)
                    copies.emplace_back(shared);
                for (int n = 0; n < 100; n += 2)
                    copies[n].Release();
                return 0;
            },
            &work, 0, nullptr)));
    }
    for (HANDLE t : threads) {
        CHECK(WaitForSingleObject(t, 60000) == WAIT_OBJECT_0);
        CloseHandle(t);
    }
    CHECK(source.RefCount() == 1);
    CHECK(Text(source) == "threads");
}
