#pragma once

#include <QString>
#include <array>

namespace tess {

// One row of the content-type table: the Step 2 option that announces a MIME type.
struct ContentType {
    const char* caption;
    const char* mime;
    const char* logLine;
    std::array<const char*, 2> keys; // exactly four characters each; second may be null
};

constexpr int kContentTypeCount = 6;
const std::array<ContentType, kContentTypeCount>& contentTypes();

// Index (0..5) of the row whose extension key equals the last four characters of
// the path, compared exactly (case matters); -1 when none does.
int contentTypeForPath(const QString& path);

} // namespace tess
