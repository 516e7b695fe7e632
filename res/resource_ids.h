// Identifiers of the program's resources: the two dialog templates, their
// controls and the program icon.
#pragma once

// Dialog templates (RT_DIALOG)
#define IDD_MAIN_DIALOG 101
#define IDD_PROGRESS_DIALOG 102

// The program file's icon group (RT_GROUP_ICON) and its two images (RT_ICON)
#define IDI_PROGRAM 102
#define IDI_PROGRAM_32 1
#define IDI_PROGRAM_16 2

// Buttons of the main dialog
#define IDC_CLEAR_REGISTRY 1000
#define IDC_SAVE_REGISTRY 1001
#define IDC_UPDATE_IMAGE 1002
#define IDC_COLDBOOT 1003
#define IDC_BSP_VERSION 1004
#define IDC_WARMBOOT 1005

// Controls of the progress dialog; its Abort button is IDCANCEL (2)
#define IDC_PROGRESS_RECORD 1002
#define IDC_PROGRESS_IMAGE 1003
#define IDC_STATUS_LINE 1004
#define IDC_IMAGE_LINE 1005

// Every resource is in English (United States)
#define PROGRAM_RESOURCE_LANGUAGE 1033
