#include "show_release.h"

namespace kronex {

void showRelease(const LoadedCatalog& release, MainWindowOps& window) {
    window.setHeaderTexts(release.releaseDate, release.releaseCaption);
    window.clearModuleList();
    for (const auto& line : release.moduleLines)
        window.appendModuleLine(line);
    window.setProgressMax(release.progressMax);
}

} // namespace kronex
