#pragma once

// Runs the settings dialog as the main window until it closes; false when it cannot be shown.
bool RunSettingsDialog();
