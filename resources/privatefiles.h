// Template and control ids of KelmCfg's private files dialog (add
// resources/privatefiles.rc to the program).
#pragma once

#define IDD_PRIVATEFILES 150
#define IDI_PRIVATEFILES 151

#define IDC_PRIV_LEVEL1 1016
#define IDC_PRIV_LEVEL2 1017
#define IDC_PRIV_LEGEND1 1018
#define IDC_PRIV_LEGEND2 1019
#define IDC_PRIV_USERLABEL 1095
#define IDC_PRIV_USERID 1096
#define IDC_PRIV_LIST 1097
#define IDC_PRIV_CANCELPROTECT 1098
#define IDC_PRIV_EXIT 1099
#define IDC_PRIV_ENABLE 1100
