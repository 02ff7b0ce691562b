// The dialog program's resources: template 102, the string table and icon
// 128.
#pragma once

#include "platform/qt/dialog.h"
#include "ui/resource.h"

const DlgTemplate& ConvertDialogTemplate();
// Registers the string table and the icon (idempotent).
void RegisterTabrookResources();
