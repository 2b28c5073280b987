// Resource ids of KelmCfg (resources/kelmcfg.rc).
#pragma once

#define IDI_KELMCFG 128
#define IDI_MOUNTED 136
#define IDI_NOTMOUNTED 144

#define IDD_MAIN 102
#define IDR_TRAYMENU 130
#define IDD_LOGIN 131
#define IDD_WARNING 132

#define ID_CONFIG 32771
#define ID_UNINST 32772
#define ID_HIDE 32773

// LoginDialog
#define IDC_LOGIN_ICON 1001
#define IDC_LOGIN_TEXT 1002
#define IDC_LOGIN_IDLABEL 1003
#define IDC_LOGIN_ID 1004
#define IDC_LOGIN_HINT 1005
#define IDC_LOGIN_PASSLABEL 1006
#define IDC_LOGIN_PASS 1007

// WarningDialog
#define IDC_WARN_ICON 1011
#define IDC_WARN_LINE1 1012
#define IDC_WARN_LINE2 1013
#define IDC_WARN_LINE3 1014
#define IDC_WARN_BAR 1015
