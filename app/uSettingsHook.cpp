#include "app/uSettingsHook.h"

#include <cstdio>

void RunSettingsDialog()
{
    std::fputs("halvora: the settings dialog is not built yet\n", stderr);
}
