#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace platform {

/// A file dialog as the pages describe it. `filter` is in the "Name(*.a)|*.a|Other|*.b||" form.
struct FileDialogRequest
{
    bool save = false;
    QString title;
    QString filter;
    QString defaultExt; ///< ".csv", ".set", ".txt": appended to a typed name without extension
};

/// Asks for a file: the full path, or nullopt when the user cancelled. Lower layers take one from
/// their caller instead of showing a dialog themselves.
using FileChooser = std::function<std::optional<QString>(const FileDialogRequest&)>;

} // namespace platform
