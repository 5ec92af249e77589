// The container's own cases, compiled here once more for the ANSI build.
#include "../filepack/test_filepack.cpp"

TEST_CASE("ANSI build: entry names are UTF-16 on file and ANSI in the index") {
    TempFolder root(_T("narrow"));
    const wchar_t latin[] = L"caf\u00e9.txt";
    WriteBytes(root / _T("n.qna"), CraftPack({{latin, "latin"}}));
    char expected[64] = {};
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, latin, -1, expected, sizeof(expected), nullptr, nullptr);
    {
        FilePack pack;
        pack.Open(root / _T("n.qna"), true);
        REQUIRE(pack.Count() == 1);
        CHECK(pack.Begin()->first == expected);
        CHECK(EntryBytes(pack, expected) == Text("latin"));
        if (!strchr(expected, '?')) {
            pack.CreateFolders(root / _T("out"));
            CHECK(ReadBytes(root / _T("out\\") + expected) == Text("latin"));
        }
    }

    WriteText(root / _T("src\\plain.txt"), "plain");
    {
        FilePack pack(root / _T("w.qna"), root / _T("src"));
    }
    Bytes raw = ReadBytes(root / _T("w.qna"));
    const wchar_t wide[] = L"plain.txt";
    REQUIRE(raw.size() > 12 + sizeof(wide) - 2);
    CHECK(U32At(raw, 8) == sizeof(wide) - 2);
    CHECK(memcmp(raw.data() + 12, wide, sizeof(wide) - 2) == 0);
}
