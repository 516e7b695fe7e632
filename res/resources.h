// The program's resource section: both dialog templates and the icon group
// with its images, terminated by an all-zero entry. The instance handle the
// program starts with is this table.
#pragma once
#include "platform/windows.h"

extern const RESOURCE_ENTRY ProgramResources[];
