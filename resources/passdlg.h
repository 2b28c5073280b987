// Templates and control ids of the configuration password dialogs, shared
// by KelmCfg, setup and kelmuinst (add resources/passdlg.rc to the program).
#pragma once

#define IDD_CFGPASSWORD 141
#define IDD_ASKPASSWORD 142

// ConfigPasswordDialog
#define IDC_INPASS_TEXT1 1101
#define IDC_INPASS_TEXT2 1102
#define IDC_INPASS_TEXT3 1103
#define IDC_INPASS_TEXT4 1104
#define IDC_INPASS_LABEL1 1105
#define IDC_INPASS_LABEL2 1106
#define IDC_INPASS_EDIT1 1107
#define IDC_INPASS_EDIT2 1108

// AskPasswordDialog
#define IDC_ASKPASS_PROMPT 1111
#define IDC_ASKPASS_EDIT 1112
