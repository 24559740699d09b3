#pragma once

#include "platform/FileDialogRequest.h"

#include <QString>

#include <functional>
#include <optional>

/// Message boxes and file dialogs of the program. Every one goes through this layer: the program
/// with a window installs the widget front end at start (platform/widgets/WidgetDialogs.h), tests
/// answer them without a person at the screen, and without either a message goes to standard
/// error and no file is chosen, which is what a program without a window wants.
namespace platform {

using MessageHandler = std::function<void(const QString&)>;
using ChooseFileHandler = std::function<std::optional<QString>(const FileDialogRequest&)>;

/// Shows `text` with an OK button only (through the front end; on standard error without one).
/// Safe from any thread.
void MessageBox(const QString& text);

/// Asks for a file; the full path, or nullopt when the user cancelled (always without a front end).
std::optional<QString> ChooseFile(const FileDialogRequest& request);

/// Installs the interactive front end; empty functions remove it.
void SetDialogFrontEnd(MessageHandler onMessage, ChooseFileHandler onChooseFile);

/// Replaces the front end for a while (tests, scripted tours); empty functions restore it.
void SetDialogHandlers(MessageHandler onMessage, ChooseFileHandler onChooseFile);

/// Converts "CSV File(*.csv)|*.csv||" into Qt's "CSV File(*.csv) (*.csv)" list form.
QString QtFilterFromPipeFilter(const QString& filter);

/// Appends `defaultExt` when the file name part of `path` has no extension.
QString WithDefaultExtension(const QString& path, const QString& defaultExt);

} // namespace platform
