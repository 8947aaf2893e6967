// Resource identifiers of Patchloom: menu commands, dialogs and their controls.
#pragma once

// Framework commands of the File menu.
inline constexpr int ID_FILE_NEW = 0xE100;
inline constexpr int ID_FILE_OPEN = 0xE101;
inline constexpr int ID_FILE_CLOSE = 0xE102;
inline constexpr int ID_FILE_SAVE = 0xE103;
inline constexpr int ID_FILE_SAVE_AS = 0xE104;
inline constexpr int ID_APP_EXIT = 0xE141;

// The View, EMSyntesis and ControllableSyn menus.
inline constexpr int ID_STRETCH_MODE = 32771;
inline constexpr int ID_SIMPLE_IMG_SYN = 32774;
inline constexpr int ID_INTERPOLATION = 32775;
inline constexpr int ID_MULTI_LEVEL_SYN = 32776;
inline constexpr int ID_GENERATE_INIT_IMG = 32777;
inline constexpr int ID_ADD_CONSTRAIN_AREA = 32782;
inline constexpr int ID_NEW_CONSTRAIN_AREA = 32783;
inline constexpr int ID_RUN_AND_RESULT = 32791;
inline constexpr int ID_SHOW_COMPARE_RESULT = 32795;
inline constexpr int ID_FLOW_GUIDED_SYN = 32796;

inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDR_PATCHLOOM_TYPE = 129;
inline constexpr int IDD_RESULT_OPTIONS = 130;
inline constexpr int IDD_FLOW_PARAM = 131;

// Set Result Options.
inline constexpr int IDC_SCALE_X = 1000;
inline constexpr int IDC_SCALE_Y = 1001;
inline constexpr int IDC_ITERATIONS = 1002;
inline constexpr int IDC_INIT_METHOD = 1003;

// Flow-guided Param Options.
inline constexpr int IDC_FLOW_FORMULA_X = 1010;
inline constexpr int IDC_FLOW_FORMULA_Y = 1011;
inline constexpr int IDC_FLOW_FRAMES = 1012;
inline constexpr int IDC_FLOW_ITERATIONS = 1013;
inline constexpr int IDC_FLOW_WEIGHT = 1014;
inline constexpr int IDC_FLOW_SCALE_X = 1015;
inline constexpr int IDC_FLOW_SCALE_Y = 1016;
inline constexpr int IDC_VIEW_FLOW_FIELD = 1017;
