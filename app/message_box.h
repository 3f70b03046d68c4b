// Message boxes over a window, and the archiver's questions asked in them.
#pragma once

#include "archiver/zip_archiver.h"

#include <QMessageBox>
#include <QString>

#include <string>

namespace kestrane {

// A modal message box over the window; returns the button chosen. Qt sizes a box by its
// text and buttons alone, which would leave the caption of a box with a short text cut to
// "Infor…tion" in the title bar: the box is made at least as wide as its caption needs.
int execMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                   QMessageBox::StandardButtons buttons);

// The archiver's questions as message boxes over the window: Abort, Ignore and (when
// allowed) Retry after a failure; whether to overwrite an existing file.
archiver::TZAAction askFailure(QWidget* parent, const std::string& message, bool allowRetry);
archiver::TZAOverwriteAnswer askOverwrite(QWidget* parent, const std::string& question);

} // namespace kestrane
