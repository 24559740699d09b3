#pragma once

#include <QString>

#include <functional>
#include <optional>

/// Message boxes and file dialogs of the program. Every one goes through this layer so that tests
/// can answer them without a person at the screen.
namespace platform {

/// A file dialog as the pages describe it. `filter` is in the "Name(*.a)|*.a|Other|*.b||" form.
struct FileDialogRequest
{
    bool save = false;
    QString title;
    QString filter;
    QString defaultExt; ///< ".csv", ".set", ".txt": appended to a typed name without extension
};

/// Shows a modal box with `text` and an OK button only.
void MessageBox(const QString& text);

/// Asks for a file; the full path, or nullopt when the user cancelled.
std::optional<QString> ChooseFile(const FileDialogRequest& request);

/// Replaces the interactive dialogs; empty functions restore them.
void SetDialogHandlers(std::function<void(const QString&)> onMessage,
                       std::function<std::optional<QString>(const FileDialogRequest&)> onChooseFile);

/// Converts "CSV File(*.csv)|*.csv||" into Qt's "CSV File(*.csv) (*.csv)" list form.
QString QtFilterFromPipeFilter(const QString& filter);

/// Appends `defaultExt` when the file name part of `path` has no extension.
QString WithDefaultExtension(const QString& path, const QString& defaultExt);

} // namespace platform
