#pragma once
#define IDD_TEST 100
#define IDC_TEST_EDIT 1001
