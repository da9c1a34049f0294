// Where a wallpaper is saved.
#pragma once

#include "text/text.h"

// The file a wallpaper with that cleaned title is saved as in folder (which
// ends in a separator): the title and ".jpg". A title whose name would pass the
// file system's limit (255 bytes of UTF-8) is cut at a character boundary so
// the name fits. The download, the skip test and the preview all name their
// file through this, so they always agree.
[[nodiscard]] Text wallpaperFilePath(const Text& folder, const Text& title);
