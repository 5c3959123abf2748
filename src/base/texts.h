// texts.h - every text the program shows, in UTF-8. Data only.
#pragma once

namespace texts {

inline constexpr const char* WINDOW_TITLE = "CNC Mirel";
inline constexpr const char* SCREEN_ERROR = "Screen error";
inline constexpr const char* PARAMETERS_NOT_FOUND = "Параметры не найдены";
inline constexpr const char* BAD_COORDINATES = "Неверные координаты";
inline constexpr const char* BAD_COORDINATE_X = "Неверные координаты  X";
inline constexpr const char* BAD_COORDINATE_Y = "Неверные координаты  Y";
inline constexpr const char* BAD_COORDINATE_Z = "Неверные координаты  Z";
inline constexpr const char* BAD_DEPTH = "Неверная глубина  Z";
inline constexpr const char* FILE_NOT_OPENED = "Файл не открыт";
inline constexpr const char* PROGRAM_FINISHED = "Программа завершена";
inline constexpr const char* NO_POINTS = "В задании нет точек";
inline constexpr const char* OUTSIDE_TABLE = "Задание выходит за пределы стола";
inline constexpr const char* NOT_MACHINE_FORMAT = "Файл не в формате станка";
inline constexpr const char* NO_PORT_ACCESS = "Нет доступа к порту LPT";
// The second line of the box above: why the port could not be reached. The first two are
// followed by the device tried; "(группа lp)" closes the second.
inline constexpr const char* PORT_NO_DEVICE = "нет устройства ";
inline constexpr const char* PORT_NO_PERMISSION = "нет прав на ";
inline constexpr const char* PORT_PERMISSION_GROUP = " (группа lp)";
inline constexpr const char* PORT_BUSY = "порт занят другой программой";
inline constexpr const char* OPEN_DIALOG_TITLE = "Please choose file to load";
inline constexpr const char* OPEN_DIALOG_FILTER =
    "Файл сверления .DRL|*.drl|Файл фрезеровки .PLT|*.plt";
inline constexpr int OPEN_DIALOG_SELECTED_FILTER = 1;  // the milling pair, counted from 0
inline constexpr const char* TYPE_NONE = "Тип не выбран";
inline constexpr const char* TYPE_DRILLING = "Сверление";
inline constexpr const char* TYPE_MILLING = "Фрезеровка";

inline constexpr const char* OK = "Ok";
inline constexpr const char* FRAME_PROGRAM = "Программное управление";
inline constexpr const char* FRAME_PROGRAM_TYPE = "Тип Програмы";
inline constexpr const char* FRAME_EMPTY = "";
inline constexpr const char* FRAME_GOTO = "Установить в позицию   мм";
inline constexpr const char* FRAME_TIME_DEPTH_SCALE = "Time мс/ Глубина шаг /Масштаб %";
inline constexpr const char* FRAME_TABLE_SIZE = "Размер стола   мм";
inline constexpr const char* FRAME_STEPS_PER_MM = "Кол-во шагов на мм";
inline constexpr const char* FRAME_BACKLASH = "Люфты  в  шагах";
inline constexpr const char* FRAME_MANUAL = "Ручное управление";
inline constexpr const char* FRAME_PORT = "LPT порт";
inline constexpr const char* LABEL_AXES = "        X                 Y                   Z";
inline constexpr const char* LABEL_BITS = "1     2     3     4     5     6     7     8";
inline constexpr const char* LABEL_STEPS = "Шаги";

}  // namespace texts
