#pragma once
// Templates of the three settings dialogs, for the program's resource table:
// 129 system settings, 134 forward settings, 138 port setting.
#include "platform/ui/resource.h"

extern const DialogTemplate appKindSelectTemplate;
extern const DialogTemplate fowerdTemplate;
extern const DialogTemplate portSettingTemplate;
