// Resource and control ids, shared by the resource script and the code.
#pragma once

#define IDI_KVR_READER 102
#define IDD_MAIN 103
#define IDD_ABOUT 131

#define IDC_CLOSE 1
#define IDC_LOAD 3
#define IDC_SAVE 4
#define IDC_RECV 5
#define IDC_PORT 1006
#define IDC_ABOUT 1008
#define IDC_RECORDS 1009
