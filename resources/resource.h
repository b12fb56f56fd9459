// Every resource id of Dunmere.scr, shared by the resource scripts and the
// code that loads the resources. Plain #defines: the resource compiler reads
// this file too.
#pragma once

// The icon and the settings dialog sit at the ids that the display settings
// look for in a screen saver.
#define SAVER_ICON_ID 100
#define SETTINGS_DIALOG_ID 2003

// Controls of the settings dialog.
#define IDC_SWITCH_SECONDS 1000
#define IDC_ORDER_CATALOGUE 1009
#define IDC_ORDER_RANDOM 1010
#define IDC_REVEAL_MS 1011
#define IDC_SWITCH_SPIN 1012
#define IDC_REVEAL_SPIN 1013
#define IDC_SIZE_ORIGINAL 1016
#define IDC_SIZE_FIT 1017
#define IDC_FOLDER_SHOW 1018
#define IDC_FOLDER_PATH 1019
#define IDC_FOLDER_BROWSE 1020

// The pictures, of type "DAT": picture n, counted from 1, has id PICTURE_ID(n).
#define PICTURE_RESOURCE_BASE 107
#define PICTURE_ID(n) (PICTURE_RESOURCE_BASE + (n))
