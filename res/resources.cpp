// The program's resource section.
#include "res/resources.h"

#include "res/dialog_templates.h"
#include "res/program_icon.h"
#include "res/resource_ids.h"

// clang-format off
const RESOURCE_ENTRY ProgramResources[] = {
    //  type          name                                  language                   data                 size
    {RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), PROGRAM_RESOURCE_LANGUAGE, &MainDialogTemplate, sizeof(MainDialogTemplate)},
    {RT_DIALOG, MAKEINTRESOURCEW(IDD_PROGRESS_DIALOG), PROGRAM_RESOURCE_LANGUAGE, &ProgressDialogTemplate, sizeof(ProgressDialogTemplate)},
    {RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_PROGRAM), PROGRAM_RESOURCE_LANGUAGE, &ProgramIconGroup, sizeof(ProgramIconGroup)},
    {RT_ICON, MAKEINTRESOURCEW(IDI_PROGRAM_32), PROGRAM_RESOURCE_LANGUAGE, &ProgramIcon32, sizeof(ProgramIcon32)},
    {RT_ICON, MAKEINTRESOURCEW(IDI_PROGRAM_16), PROGRAM_RESOURCE_LANGUAGE, &ProgramIcon16, sizeof(ProgramIcon16)},
    {NULL, NULL, 0, NULL, 0},
};
// clang-format on
