#include "app/applied_marks.h"

#include "app/profile_actions.h"

#include <QDateTime>
#include <QFont>
#include <QIcon>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>

namespace kestrane {
namespace {

constexpr int kMarkSize = 8;

// A dot of the colour, or a transparent square that keeps every name at the same place.
QIcon markIcon(const QColor& colour) {
    QPixmap pixmap(kMarkSize, kMarkSize);
    pixmap.fill(Qt::transparent);
    if (colour.isValid()) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(0, 0, kMarkSize, kMarkSize);
    }
    return QIcon(pixmap);
}

QString toolTipOf(const ProfileStatus& status) {
    if (!status.valid)
        return QStringLiteral("Неверная строка в options.ini");
    QString tip = QStringLiteral("Папка игры: ") + QString::fromStdString(status.gameFolder) +
                  QStringLiteral("\nАрхив: ") + (status.archived ? QStringLiteral("да") : QStringLiteral("нет"));
    if (status.state != AppliedState::NotApplied) {
        tip += QStringLiteral("\nПрименён: ") +
               QDateTime::fromSecsSinceEpoch(status.appliedAt).toString(QStringLiteral("dd.MM.yyyy hh:mm"));
        if (status.state == AppliedState::Changed)
            tip += QStringLiteral("\nПапка system изменена после применения");
    }
    return tip;
}

} // namespace

void markAppliedProfiles(QListWidget& list) {
    std::vector<ProfileStatus> statuses;
    try {
        statuses = ProfileStatuses();
    } catch (const std::exception&) {
        return; // a list that cannot be read shows no marks; the actions report the error
    }
    list.setIconSize(QSize(kMarkSize, kMarkSize));
    for (int i = 0; i < list.count(); ++i) {
        QListWidgetItem* item = list.item(i);
        const ProfileStatus* status = std::size_t(i) < statuses.size() ? &statuses[std::size_t(i)] : nullptr;
        const AppliedState state = status ? status->state : AppliedState::NotApplied;
        QFont font = item->font();
        font.setBold(state != AppliedState::NotApplied);
        item->setFont(font);
        item->setIcon(markIcon(state == AppliedState::Applied   ? kAppliedMark
                               : state == AppliedState::Changed ? kChangedMark
                                                                : QColor()));
        item->setToolTip(status ? toolTipOf(*status) : QString());
    }
}

} // namespace kestrane
