#pragma once

// Template and control ids of the "Pelorin Filters" dialog.
//
// Each of the eight lists has an entry field, "Add", "Del" and the sorted list itself, numbered
// from its base: field = base, Add = base + 1, Del = base + 2, list = base + 3. The prefixes
// name the list: S/D source or destination, I/P address or port, MB/MNB must be or must not be.
namespace FiltersIds {

constexpr int IDD_PELORIN_FILTERS = 131;

constexpr int IDC_EDIT_SIMB = 1000;  // source address must be
constexpr int IDC_BUTTON_SIMBADD = 1001;
constexpr int IDC_BUTTON_SIMBDEL = 1002;
constexpr int IDC_LIST_SIMB = 1003;

constexpr int IDC_EDIT_SIMNB = 1010;  // source address must not be
constexpr int IDC_BUTTON_SIMNBADD = 1011;
constexpr int IDC_BUTTON_SIMNBDEL = 1012;
constexpr int IDC_LIST_SIMNB = 1013;

constexpr int IDC_EDIT_SPMB = 1020;  // source port must be
constexpr int IDC_BUTTON_SPMBADD = 1021;
constexpr int IDC_BUTTON_SPMBDEL = 1022;
constexpr int IDC_LIST_SPMB = 1023;

constexpr int IDC_EDIT_SPMNB = 1030;  // source port must not be
constexpr int IDC_BUTTON_SPMNBADD = 1031;
constexpr int IDC_BUTTON_SPMNBDEL = 1032;
constexpr int IDC_LIST_SPMNB = 1033;

constexpr int IDC_EDIT_DIMB = 1040;  // destination address must be
constexpr int IDC_BUTTON_DIMBADD = 1041;
constexpr int IDC_BUTTON_DIMBDEL = 1042;
constexpr int IDC_LIST_DIMB = 1043;

constexpr int IDC_EDIT_DIMNB = 1050;  // destination address must not be
constexpr int IDC_BUTTON_DIMNBADD = 1051;
constexpr int IDC_BUTTON_DIMNBDEL = 1052;
constexpr int IDC_LIST_DIMNB = 1053;

constexpr int IDC_EDIT_DPMB = 1060;  // destination port must be
constexpr int IDC_BUTTON_DPMBADD = 1061;
constexpr int IDC_BUTTON_DPMBDEL = 1062;
constexpr int IDC_LIST_DPMB = 1063;

constexpr int IDC_EDIT_DPMNB = 1070;  // destination port must not be
constexpr int IDC_BUTTON_DPMNBADD = 1071;
constexpr int IDC_BUTTON_DPMNBDEL = 1072;
constexpr int IDC_LIST_DPMNB = 1073;

// First id of a list's four controls, by its position in FilterList order.
constexpr int ListBase(int list) { return IDC_EDIT_SIMB + 10 * list; }

constexpr int IDC_IPADDRESS_OR = 1100;  // either-end address
constexpr int IDC_EDIT_ORPORT = 1101;   // either-end port
constexpr int IDC_EDIT_MUSTCONTAIN = 1102;
constexpr int IDC_EDIT_MUSTNOTCONTAIN = 1103;
constexpr int IDC_EDIT_MINSIZE = 1104;
constexpr int IDC_EDIT_MAXSIZE = 1105;

constexpr int IDC_CHECK_TCP = 1110;
constexpr int IDC_CHECK_UDP = 1111;
constexpr int IDC_CHECK_ICMP = 1112;
constexpr int IDC_CHECK_OTHER = 1113;

constexpr int IDC_BUTTON_SAVEAS = 1120;
constexpr int IDC_BUTTON_LOADFILTERS = 1121;
constexpr int IDC_BUTTON_REFRESH = 1122;  // "Re-Load"
constexpr int IDC_BUTTON_RESETALL = 1123;
constexpr int IDC_BUTTON_APPLY = 1124;

}  // namespace FiltersIds
