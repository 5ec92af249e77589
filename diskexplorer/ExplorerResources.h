#pragma once
// Resource and command ids of the disk space explorer (shared by Drossel.rc and the code).

#define IDR_MAINFRAME 128
#define IDS_SCANNING 129
#define IDS_DRIVE_INFO 131
#define IDS_VIRTUAL_DRIVE 132
#define IDS_DRIVE_PROMPT 133
#define IDS_READY 57345

#define IDD_ABOUT 100
#define IDD_ADDRESS_BAR 101
#define IDD_LINK_PANE 204
#define IDD_SORT_PANE 205
#define IDD_SUITE_PANE 206
#define IDC_ADDRESS 1011
#define IDC_LINK 1007
#define IDC_ABOUT_PICTURE 1001

#define IDI_COLLAPSE 201
#define IDI_EXPAND 202
#define IDI_FLOPPY 208
#define IDI_FOLDER 209
#define IDI_FIXED 211
#define IDI_REMOVABLE 212
#define IDI_RAMDISK 214
#define IDI_REMOTE 216
#define IDI_CDROM 217
#define IDI_DRIVE 219
#define IDB_TOOLBAR 218
#define IDB_TOOLBAR_HOT 220
#define IDR_CONTEXT 221
#define IDB_SHARE32 222
#define IDB_BANNER 223
#define IDB_SHARE16 224
#define IDB_ABOUT 225

#define ID_VIEW_TILES 32772
#define ID_VIEW_DETAILS 32773
#define ID_SORT_NAMES 32775
#define ID_SORT_SIZE 32776
#define ID_SORT_ITEMS 32777
#define ID_GOTO 32778
#define ID_BACK 32781
#define ID_FORWARD 32782
#define ID_UP 32783
#define ID_VIEWS 32785
#define ID_EXPLORE 32795
#define ID_PROPERTIES 32798
#define ID_REFRESH 59395
#define ID_ABOUT 57664
#define ID_EXIT 57665
#define ID_DRIVE_FIRST 101
#define ID_DRIVE_LAST 127

// Posted by the scan worker when a scan ends (wParam 5), sent by the link panes (lParam 1).
#define WM_SCAN_DONE 0x8015
// Posted by a worker whose scan failed: wParam the error code, lParam the scan's number.
#define WM_SCAN_FAILED 0x8016
