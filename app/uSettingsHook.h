#pragma once

// Runs the settings dialog as the main window until it closes.
void RunSettingsDialog();
