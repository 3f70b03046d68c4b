#include "app/applied_marks.h"

#include "app/profile_actions.h"
#include "app/profile_list.h"

#include <QDateTime>
#include <QFont>
#include <QIcon>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>

namespace kestrane {
namespace {

constexpr int kMarkSize = 8;
// The AppliedState the entry's icon shows.
constexpr int kMarkRole = Qt::UserRole + 1;

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

// Whether the statuses are those of the lines the list shows, one entry per line.
bool describesList(const std::vector<ProfileStatus>& statuses, const QListWidget& list) {
    if (statuses.size() != std::size_t(list.count()))
        return false;
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->text() != QString::fromStdString(displayName(statuses[std::size_t(i)].name)))
            return false;
    return true;
}

} // namespace

void markAppliedProfiles(QListWidget& list) {
    std::vector<ProfileStatus> statuses;
    try {
        statuses = ProfileStatuses();
    } catch (const std::exception&) {
        return; // a list that cannot be read shows no marks; the actions report the error
    }
    if (!describesList(statuses, list))
        return; // positions would mark the wrong entries; the list's reload marks them
    list.setIconSize(QSize(kMarkSize, kMarkSize));
    for (int i = 0; i < list.count(); ++i) {
        QListWidgetItem* item = list.item(i);
        const ProfileStatus& status = statuses[std::size_t(i)];
        // A font or tip set to what it is already changes nothing; an icon always would.
        QFont font = item->font();
        font.setBold(status.state != AppliedState::NotApplied);
        item->setFont(font);
        const QVariant shown = item->data(kMarkRole);
        if (!shown.isValid() || shown.toInt() != int(status.state)) {
            item->setIcon(markIcon(status.state == AppliedState::Applied   ? kAppliedMark
                                   : status.state == AppliedState::Changed ? kChangedMark
                                                                           : QColor()));
            item->setData(kMarkRole, int(status.state));
        }
        item->setToolTip(toolTipOf(status));
    }
}

} // namespace kestrane
