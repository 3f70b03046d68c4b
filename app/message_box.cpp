#include "app/message_box.h"

#include "app/application.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>

#include <algorithm>

namespace kestrane {
namespace {

// Room a title bar needs beside its caption: the window's icon, up to three boxes and
// the frame's edges and gaps, at the sizes window managers' themes draw them.
constexpr int kTitleBarReserve = 140;

// How wide a window manager's title bar draws the caption. The manager draws it in its own
// font, which the program cannot ask for: the widest of the windows' font, the desktop's
// title font and the 9 point sans serif common on X desktops, all bold, stands in for it.
int titleTextWidth(const QString& caption, const QFont& windowFont) {
    int width = 0;
    for (QFont font : {windowFont, QFontDatabase::systemFont(QFontDatabase::TitleFont), QFont("Sans", 9)}) {
        font.setBold(true);
        width = std::max(width, QFontMetrics(font).horizontalAdvance(caption));
    }
    return width;
}

} // namespace

int execMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                   QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons, parent);
    const int width = titleTextWidth(caption, box.font()) + kTitleBarReserve;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    return box.exec();
}

archiver::TZAAction askFailure(QWidget* parent, const std::string& message, bool allowRetry) {
    QMessageBox::StandardButtons buttons = QMessageBox::Abort | QMessageBox::Ignore;
    if (allowRetry)
        buttons |= QMessageBox::Retry;
    switch (
        execMessageBox(parent, QMessageBox::Critical, kApplicationTitle, QString::fromStdString(message), buttons)) {
    case QMessageBox::Retry:
        return archiver::fxaRetry;
    case QMessageBox::Ignore:
        return archiver::fxaIgnore;
    default:
        return archiver::fxaAbort;
    }
}

archiver::TZAOverwriteAnswer askOverwrite(QWidget* parent, const std::string& question) {
    switch (execMessageBox(parent, QMessageBox::Question, kApplicationTitle, QString::fromStdString(question),
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::NoToAll | QMessageBox::YesToAll)) {
    case QMessageBox::Yes:
        return archiver::TZAOverwriteAnswer::Yes;
    case QMessageBox::No:
        return archiver::TZAOverwriteAnswer::No;
    case QMessageBox::NoToAll:
        return archiver::TZAOverwriteAnswer::NoToAll;
    case QMessageBox::YesToAll:
        return archiver::TZAOverwriteAnswer::YesToAll;
    default:
        return archiver::TZAOverwriteAnswer::Closed;
    }
}

} // namespace kestrane
