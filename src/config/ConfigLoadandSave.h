#pragma once

namespace tess::ConfigLoadandSave {

// The configuration step of the main window's load.
void Startup();
void LoadConfig();
void SaveConfig();

} // namespace tess::ConfigLoadandSave
