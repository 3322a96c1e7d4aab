// Resource identifiers, shared by the resource script and the program. Plain
// #defines and a classic guard: resource compilers read this file too.
#ifndef VELKOR_RESOURCE_H
#define VELKOR_RESOURCE_H

// MinGW's headers leave this out.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Dialogs
#define IDD_ABOUT 103
#define IDD_MAIN 129
#define IDD_SERVICE_PASSWORD 138
#define IDD_SHOT_COUNTER 139

// Menus and accelerators
#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109
#define IDR_SERVICE_MENU 137

// Icons
#define IDI_APP 107
#define IDI_SMALL 108

// Commands
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_SERVICE_MENU 138  // the "&Service" popup while it is in the menu bar
#define IDM_SHOT_COUNTER 139
#define IDM_SERVICE_MODE 1009
#define IDM_PRESSURE_VALUES 32780

// Main window controls
#define IDC_BROWSE 1001
#define IDC_PROGRAM 1003
#define IDC_PROGRESS 1004
#define IDC_FIRMWARE_FILE 1006
#define IDC_STATUS 1007
#define IDC_HINT 1008

// Service dialogs
#define IDC_PASSWORD 1009
#define IDC_PASSWORD_LABEL 1010
#define IDC_NEW_SHOT_COUNT 1012
#define IDC_CURRENT_SHOT_COUNT 1013

#endif
