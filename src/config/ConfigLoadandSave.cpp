#include "config/ConfigLoadandSave.h"

namespace tess::ConfigLoadandSave {

void Startup() {}
void LoadConfig() {}
void SaveConfig() {}

} // namespace tess::ConfigLoadandSave
