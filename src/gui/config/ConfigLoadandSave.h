#pragma once

#include <QString>

namespace tess::ConfigLoadandSave {

// The full path of config.cfg in the application folder.
QString configPath();

// The configuration step of the main window's load: load config.cfg, or tell the
// user it is missing and open the options window once the main window is up.
void Startup();

// Reads config.cfg into the configuration values and, when it is complete, into the
// main window, switching Auto URL ReNaming on with the default URL as base. A short
// file opens the options window instead. A file that cannot be read changes nothing.
void LoadConfig();

// Writes the options window's fields to config.cfg and loads it again. False, with
// the user told why, when the file could not be written; the old file then stays.
bool SaveConfig();

} // namespace tess::ConfigLoadandSave
