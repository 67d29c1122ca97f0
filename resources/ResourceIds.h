// Numbers of the Windows resources: the dialog templates, the strings, the
// icon and the folder pictures, and the ids of the controls that code
// addresses. Shared by Dialogs.rc and the Win32 views in win/, so it holds
// preprocessor definitions only (windres reads it too).
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_APPICON 128
#define IDD_PASSWORD 131
#define IDB_FOLDER_CLOSED 134
#define IDB_FOLDER_OPEN 135
#define IDD_FOLDER 396
#define IDD_NEW_FOLDER 399
#define IDD_OVERWRITE 400
#define IDD_TRANSFER 404

// Controls the code never addresses; the progress dialog's status line is
// the one such control it writes to.
#define IDC_STATIC (-1)

// The system menu's "About" entry.
#define IDM_ABOUTBOX 16

// Main window (template 102).
#define IDC_RECEIVER_SOFTWARE 1000
#define IDC_RECEIVER_HARDWARE 1001
#define IDC_IMAGE_SOFTWARE 1007
#define IDC_IMAGE_HARDWARE 1008
#define IDC_READ_VERSION 11970
#define IDC_UPDATE 11971
#define IDC_CHANGE_FOLDER 11972
#define IDC_PORT_LIST 11973
#define IDC_READ_BACK 11974
#define IDC_WORK_FOLDER 11975
#define IDC_NOTE 11976
#define IDC_PASSWORD_BUTTON 11977
#define IDC_IMAGE_LIST 11982
#define IDC_KIND_FIRST 11990
#define IDC_KIND_LAST 11996
#define IDC_KIND_GROUP 11997

// Progress dialog (template 404).
#define IDC_PROGRESS 1002
#define IDC_COUNTER 1005

// Password dialog (template 131).
#define IDC_PASSWORD_EDIT 1003

// Folder browser (template 396).
#define IDC_FOLDER_TREE 11555
#define IDC_DRIVE_LIST 11556
#define IDC_NEW_FOLDER 11557
#define IDC_SELECTED_PATH 11558

// New folder dialog (template 399).
#define IDC_FOLDER_NAME 11559

// Overwrite-or-rename dialog (template 400).
#define IDC_CHANGE_WORK_FOLDER 11649
#define IDC_OVERWRITE_FOLDER 11648
#define IDC_OVERWRITE_CAPTION 11650
#define IDC_OVERWRITE 11965
#define IDC_RENAME 11967
#define IDC_NEW_NAME 11968
