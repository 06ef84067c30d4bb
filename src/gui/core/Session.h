#pragma once

#include <QString>

namespace tess {

// The values the windows and modules share for one run of the program. Created
// at start, gone at exit; each test starts with a fresh one.
struct Session {
    // The media file being described, and the text after its last separator.
    QString selectedFilePath;
    QString selectedFileName;

    // Mirror of the five lines of config.cfg. The blank-line setting is also set
    // ("1" or "0") by each of the three blank-line check boxes.
    QString blankLine;
    QString defaultSaveFolder;
    QString defaultUrl;
    QString defaultVendor;
    QString defaultVersion;

    // Auto URL ReNaming. The busy flag also tells the save-folder chooser where the
    // chosen folder goes: set = the options window, clear = main and batch windows.
    bool autoUrlActive = false;
    bool autoUrlBusy = false;
    QString autoUrlBase;

    // A media file named on the command line ("Open With"): taken in by the main
    // window's load as if chosen in the open dialog.
    QString startFile;

    int batchPosition = 0;
    int batchCount = 0;
};

} // namespace tess
