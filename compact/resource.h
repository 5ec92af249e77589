#pragma once
// Resource ids of the compaction library, shared by its resource script and code.
#define IDD_COMPACT 102
#define IDB_ROWS 103
#define IDC_HIVE_LIST 1001
