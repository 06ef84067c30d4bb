#pragma once

#include "engine/FileOps.h"

#include <QString>

namespace tess::AudioPaths {

// The QCP file beside a WAV file: the path's last three characters replaced by "qcp"
// (ring.wav gives ring.qcp, RING.WAV gives RING.qcp, ring.wave gives ring.wqcp).
QString qcpPathFor(const QString& wavPath);

// Where conversions work when no test overrides it. "c:\temp" on Windows; elsewhere a
// folder "tessavane" private to the user: under the runtime folder when that is set
// (an absolute path), else under the cache folder, else under home's ".cache".
QString defaultTempFolder(const QString& runtimeDir, const QString& cacheHome, const QString& home);

// Whether folder may hold the conversions' folder: it and each folder above it, up
// to the root, belong to the user or root, and none can be changed by others
// (unless sticky, as /tmp is). Else another user could swap a run's folder mid-run.
bool trustedBase(const QString& folder);

// The temporary folder in force (from the environment, or the test override). A
// runtime or cache folder from the environment that is not trustedBase() is passed
// over, as is a home that is not: then the account's own home's ".cache" is used.
QString tempFolder();
void setTempFolderForTesting(const QString& folder);

// The converter's input and output inside a temporary folder.
QString tempWavIn(const QString& folder);
QString tempQcpIn(const QString& folder);

// The converter: "pvconv.exe" on Windows, "pvconv" elsewhere, in the application folder.
QString converterPath();

// Makes the folder ready for use. Created when missing (mode 0700 outside Windows);
// elsewhere an existing one is refused when it is a symbolic link, not a folder, or
// not the user's own, and tightened to 0700 when others could reach into it. Outside
// Windows it is refused too when its parent is writable by others without the sticky
// bit: anyone could swap it for a link of their own while a conversion runs.
FileResult prepareTempFolder(const QString& folder);

} // namespace tess::AudioPaths
