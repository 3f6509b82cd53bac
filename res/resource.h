#pragma once

// Resource and command identifiers, shared by the resource script and the code.

#define STR_TITLE 103
#define STR_CLASS 109

#define ICON_LARGE 107
// winuser.h gives this name to WM_SETICON's small-icon flag; here it names the resource.
#undef ICON_SMALL
#define ICON_SMALL 108

#define MENU_MAIN 109

#define DLG_ABOUT 103
#define DLG_INTERVAL 110
#define IDC_INTERVAL_COMBO 112

#define CMD_ABOUT 104
#define CMD_SETTINGS 106
#define CMD_STATUS 111
#define CMD_BG_AUTO 113
#define CMD_BG_BLACK 114
#define CMD_BG_RED 115
#define CMD_BG_GREEN 116
#define CMD_BG_BLUE 117
#define CMD_BG_WHITE 118
#define CMD_BG_PURPLE 119
#define CMD_BG_GREY 120
#define CMD_MODE_MULTI 121
#define CMD_MODE_SINGLE 122
#define CMD_VSYNC 123
#define CMD_ONLINE_CLOCK 124
