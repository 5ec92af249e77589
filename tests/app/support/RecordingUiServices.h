#pragma once
#include <string>
#include <vector>
#include "app/frame/UiServices.h"

// Records what the program asks of the system's windows and answers with
// set results; installed for the life of the object.
class RecordingUiServices : public UiServices {
public:
    struct Box {
        std::wstring text, caption;
        UINT type;
    };
    struct Help {
        std::wstring file;
        UINT command;
        DWORD_PTR data;
    };
    struct Execute {
        std::wstring verb, file;
    };

    RecordingUiServices() { SetUiServices(this); }
    ~RecordingUiServices() override { SetUiServices(nullptr); }

    int ShowMessage(HWND, const wchar_t* text, const wchar_t* caption, UINT type) override {
        boxes.push_back({text ? text : L"", caption ? caption : L"", type});
        return boxAnswer;
    }
    HWND ShowHtmlHelp(HWND, const wchar_t* file, UINT command, DWORD_PTR data) override {
        helps.push_back({file ? file : L"", command, data});
        return nullptr;
    }
    INT_PTR ShellExecuteFile(HWND, const wchar_t* verb, const wchar_t* file, const wchar_t*, const wchar_t*,
                             int) override {
        executes.push_back({verb ? verb : L"", file ? file : L""});
        return 42;
    }
    BOOL OpenFileDialog(OPENFILENAMEW*) override { return FALSE; }
    BOOL SaveFileDialog(OPENFILENAMEW*) override { return FALSE; }
    PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW*) override { return nullptr; }
    BOOL PrintDialog(PRINTDLGW*) override { return FALSE; }
    INT_PTR ShowAboutBox(HWND, const wchar_t* picturePath) override {
        aboutBoxes.push_back(picturePath ? picturePath : L"");
        return IDOK;
    }

    std::vector<Box> boxes;
    std::vector<Help> helps;
    std::vector<Execute> executes;
    std::vector<std::wstring> aboutBoxes;
    int boxAnswer = IDOK;
};
