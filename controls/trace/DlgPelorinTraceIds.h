#pragma once

// Control ids of the route window (dialog 2010).
namespace TraceIds {
constexpr int IDD_TRACE = 2010;
constexpr int IDC_COMBO_WHOIS_SERVERS = 2107;
constexpr int IDC_LIST_ROUTE = 2108;
constexpr int IDC_RICHEDIT_VITALS = 2109;
constexpr int IDC_IPADDRESS_TRACE = 2111;
constexpr int IDC_EDIT_TRACE_HOST = 2112;
constexpr int IDC_BUTTON_HOST_VITALS = 2113;
constexpr int IDC_CHECK_USE_HOST_NAMES = 2114;
constexpr int IDC_CHECK_AUTO_VITALS = 2115;
constexpr int IDC_BUTTON_ADD_SERVER = 2116;
constexpr int IDC_EDIT_WHOIS_QUERY = 2117;
constexpr int IDC_STATIC_STATUS = 2118;
constexpr int IDC_BUTTON_QUERY = 2119;
constexpr int IDC_BUTTON_TRACE = 1;  // IDOK
constexpr int IDC_BUTTON_DONE = 2;   // IDCANCEL
}  // namespace TraceIds
