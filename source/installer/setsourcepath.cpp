#include "setsourcepath.h"

#include <windows.h>

#include <string>
#include <string_view>

#include "pathhelpers.h"
#include "stampsources.h"
#include "xmldoc.h"

namespace {

const char16_t* units(const std::wstring& w) { return reinterpret_cast<const char16_t*>(w.c_str()); }

} // namespace

bool setsourcepath(const installrun& run)
{
    xmldoc doc;
    doc.setText(nullptr);
    const std::wstring config = run.setupdirw() + L"\\config.xml";
    const bool existed = GetFileAttributesW(config.c_str()) != INVALID_FILE_ATTRIBUTES;
    doc.loadFile(units(config));

    const std::wstring stamped = ansitowide(run.packagepath);
    const std::u16string_view value(units(stamped), stamped.size());
    stampsources(doc, value);

    // A configuration that exists but gave no text (unreadable, or in an
    // encoding that is refused) would only be emptied by a save.
    if (existed && doc.text.empty()) return true;
    // Written beside the original and moved over it only when complete, so
    // a failed save (disk full, a conversion that yields nothing) leaves the
    // extracted file as it was.
    const std::wstring pending = config + L".new";
    if (doc.saveFile(units(pending)) && MoveFileExW(pending.c_str(), config.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileW(pending.c_str());
    // Without a workspace there was nothing to stamp; with one, the setup
    // program would find a configuration that does not name its package.
    return GetFileAttributesW(run.setupdirw().c_str()) == INVALID_FILE_ATTRIBUTES;
}
