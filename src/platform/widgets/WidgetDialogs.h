#pragma once

namespace platform {

/// Makes platform::MessageBox and platform::ChooseFile show Qt's message box and file dialog.
/// Called once by a program with a window, after its QApplication exists. A message asked for
/// off the UI thread is posted there without waiting; a file can only be chosen on the UI thread.
void InstallWidgetDialogs();

} // namespace platform
