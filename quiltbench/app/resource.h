// Resource identifiers of Quiltbench's dialogs and their controls.
#pragma once

inline constexpr int IDD_SINGLE_IMAGE = 130;
inline constexpr int IDD_SYNTHESIS_OPTIONS = 132;
inline constexpr int IDD_VIDEO_SYNTHESIS = 134;

inline constexpr int IDC_INPUT_PATH = 1000;
inline constexpr int IDC_BROWSE_INPUT = 1001;
inline constexpr int IDC_OUTPUT_PATH = 1002;
inline constexpr int IDC_BROWSE_OUTPUT = 1003;
inline constexpr int IDC_CANDIDATE_METHOD = 1004;
inline constexpr int IDC_FFT_SEARCH = 1005;
inline constexpr int IDC_POST_PROCESS = 1006;
inline constexpr int IDC_NAIVE_SEARCH = 1007;
inline constexpr int IDC_SCALE_X = 1008;
inline constexpr int IDC_SCALE_Y = 1009;
// The single-image dialog's Options button shares its number with the options dialog's
// Y scale; the two never sit in one dialog.
inline constexpr int IDC_OPTIONS = 1009;
