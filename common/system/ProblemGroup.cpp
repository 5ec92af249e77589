#include "common/system/ProblemGroup.h"

namespace {

struct ProblemGroup {
    int32_t code;
    const TCHAR* name;
};

// Searched in this order: the first row of a code wins.
const ProblemGroup kGroups[] = {
    {302, _T("errors_class_id")},
    {303, _T("errors_prog_id")},
    {304, _T("errors_typelib")},
    {305, _T("errors_interface")},
    {306, _T("errors_helps")},
    {307, _T("errors_fonts")},
    {308, _T("errors_shared_tools")},
    {309, _T("errors_shared_dlls")},
    {310, _T("errors_outlook_ext")},
    {311, _T("errors_office_addins")},
    {312, _T("errors_ie_ext")},
    {314, _T("errors_toolbar_items")},
    {315, _T("errors_toolbars")},
    {316, _T("errors_hooks")},
    {317, _T("errors_menu_ext")},
    {318, _T("errors_applets")},
    {319, _T("errors_mru")},
    {325, _T("errors_programs")},
    {327, _T("errors_menu_ext")},
    {328, _T("errors_associations")},
    {321, _T("errors_extension_handler")},
    {322, _T("errors_service_missing")},
    {323, _T("errors_control_panel_app")},
    {324, _T("errors_extension_type")},
    {326, _T("errors_progid_file_extension")},
    {330, _T("errors_embedded_nulls")},
    {329, _T("errors_embedded_nulls")},
    {331, _T("errors_default_icon")},
    {320, _T("errors_app_path")},
    {332, _T("errors_programs")},
    {333, _T("errors_progid_file_extension")},
    {0, nullptr},
};

}  // namespace

const TCHAR* FindById(int32_t problemCode) {
    for (const ProblemGroup* row = kGroups; row->code != 0; ++row)
        if (row->code == problemCode)
            return row->name;
    return nullptr;
}
