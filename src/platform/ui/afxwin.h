#pragma once
// The dialog framework in one include: application object, windows, dialogs,
// controls, brushes, menus, resources, tray, shell, sound.
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/mmsystem.h"
#include "platform/ui/resource.h"
#include "platform/ui/shellapi.h"
#include "platform/ui/uitypes.h"
#include "platform/ui/winapp.h"
#include "platform/ui/wnd.h"
#include "platform/winver.h"
