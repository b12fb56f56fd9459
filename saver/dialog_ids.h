// Control ids of the settings dialog, shared by the resource script and code.
#pragma once

#define IDC_SWITCH_SECONDS 1000
#define IDC_ORDER_CATALOGUE 1009
#define IDC_ORDER_RANDOM 1010
#define IDC_REVEAL_MS 1011
#define IDC_SWITCH_SPIN 1012
#define IDC_REVEAL_SPIN 1013
#define IDC_SIZE_ORIGINAL 1016
#define IDC_SIZE_FIT 1017
