#pragma once

// The dialog item ids of every page and of the main window, named once. A control carries its id
// as its object name in decimal ("1003"): the caption tables, the tests and the screenshot tour
// find it by that name. Some ids serve on two pages (1034 is "Total time:" on the Control page and
// "Time:" on the Program page): the name says what both have in common.

#include <QString>

enum ItemId : int {
    // ---- Main window ----
    IDC_TAB = 1002,

    // ---- Control page ----
    IDC_CONNECT = 1003,
    IDC_VOLTAGE = 1004,
    IDC_MEAS_VOLTAGE = 1005,
    IDC_CURRENT = 1006,
    IDC_MEAS_CURRENT = 1007,
    IDC_PANEL = 1008,
    IDC_MEASURED = 1009,
    IDC_STATUS = 1010,
    IDC_PRESET = 1011,
    IDC_STEP_LABEL = 1012,
    IDC_STEP = 1013,
    IDC_STEP_UNIT = 1014,
    IDC_CV = 1015,
    IDC_OVP = 1016,
    IDC_OUT = 1017,
    IDC_CC = 1018,
    IDC_OCP = 1019,
    IDC_UP = 1020,
    IDC_DOWN = 1021,
    IDC_OFF = 1022,
    IDC_ON = 1023,
    IDC_OK = 1024,
    IDC_CONNECT_PC = 1025,
    IDC_PORT_LABEL = 1026,
    IDC_PORT = 1027,
    IDC_CONNECTION = 1028,
    IDC_RUN_MODE = 1029,
    IDC_USER_MODE = 1030,
    IDC_PROGRAM_MODE = 1031,
    IDC_PROGRAM_FILE_LABEL = 1032,
    IDC_PROGRAM_FILE = 1033,
    IDC_TIME_LABEL = 1034, ///< "Total time:" here, "Time:" on the Program page
    IDC_TIME = 1035,       ///< a program cycle's seconds here, a step's on the Program page
    IDC_CYCLES_LABEL = 1036,
    IDC_CYCLES = 1037,
    IDC_WAVE_OUTPUT = 1038,
    IDC_WAVE = 1039,
    IDC_SAVE = 1040, ///< "Save Data" here, "Save" on the Program page
    IDC_ELAPSED_LABEL = 1041,
    IDC_ELAPSED = 1042,
    IDC_MAX_VOLTAGE = 1043,
    IDC_MAX_CURRENT = 1044,
    IDC_LANGUAGE = 1074,

    // ---- Program page ----
    IDC_PRESET_VOLTAGE_LABEL = 1046,
    IDC_PRESET_CURRENT_LABEL = 1048,
    IDC_ADD = 1050,
    IDC_OPEN = 1052, ///< on the DataRecord page too
    IDC_PRINT = 1053,
    IDC_STEP_LIST = 1054,
    IDC_PRESET_VOLTAGE = 1067,
    IDC_PRESET_CURRENT = 1068,
    IDC_TIME_SPIN = 1069,
    IDC_ITEM_EDIT = 1070,

    // ---- DataRecord page ----
    IDC_FILE_NAME = 1047,
    IDC_FILE_TYPE = 1049,
    IDC_WAVE_TYPE_LABEL = 1055,
    IDC_WAVE_TYPE = 1056,
    IDC_TIME_SCALE_LABEL = 1057,
    IDC_TIME_SCALE = 1058,
    IDC_DISPLAY_LABEL = 1059,
    IDC_DISPLAY = 1060,
    IDC_FILE_NAME_LABEL = 1062,
    IDC_FILE_TYPE_LABEL = 1063,
    IDC_TOTAL_TIME_LABEL = 1064,
    IDC_TOTAL_TIME = 1065,
    IDC_RECORD_WAVE = 1066,
    IDC_SCROLL = 1071,
};

/// The object name of the control with item id `nId`: the id in decimal.
inline QString ItemName(int nId)
{
    return QString::number(nId);
}
