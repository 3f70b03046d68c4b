#include "app/main_window.h"

#include "app/applied_marks.h"

#include "app/application.h"
#include "app/busy_window.h"
#include "app/message_box.h"
#include "app/profile_archive.h"
#include "app/profile_list.h"
#include "archiver/zip_archiver.h"
#include "controls/plain_label.h"
#include "controls/shadow_label.h"
#include "controls/system_colours.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"
#include "controls/xp_edits.h"
#include "controls/xp_group_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QAction>
#include <QMenu>
#include <QWindow>

#include <algorithm>
#include <exception>

namespace kestrane {
namespace {

using namespace controls;

constexpr int kItemHeight = 13;
const char* const kPickerTitle = "Please specify a directory";

TForm1::FolderPicker& folderPicker() {
    static TForm1::FolderPicker picker = &TForm1::pickFolderWithDialog;
    return picker;
}

QString q(const std::string& s) { return QString::fromStdString(s); }

template <class W>
W* place(W* widget, int left, int top, int width, int height) {
    widget->setGeometry(left, top, width, height);
    return widget;
}

TXPButton* button(QWidget* parent, const char* caption, int left, int top, int width, int height) {
    auto* b = place(new TXPButton(parent), left, top, width, height);
    b->setCaption(QString::fromUtf8(caption));
    return b;
}

TLabel* label(QWidget* parent, const char* caption, int left, int top, int width, int height) {
    auto* l = place(new TLabel(QString::fromUtf8(caption), parent), left, top, width, height);
    // Labels size themselves to their caption, whatever the font's width.
    l->adjustSize();
    l->move(left, top);
    return l;
}

} // namespace

void TForm1::setFolderPicker(FolderPicker picker) { folderPicker() = std::move(picker); }

QString TForm1::pickFolderWithDialog(QWidget* parent, const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(parent, title, startFolder);
}

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_archiver(std::make_unique<archiver::TZipArchiver>()),
      m_profileArchive(std::make_unique<ZipProfileArchive>(*m_archiver)) {
    setWindowTitle(QStringLiteral("Kestrane v.1.2.1 by Morvell"));
    setFont(defaultUiFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(toQRgb(clBtnFace)));
    pal.setColor(QPalette::WindowText, QColor(toQRgb(clWindowText)));
    setPalette(pal);
    setAutoFillBackground(true);
    resize(kClientWidth, kClientHeight);
    // The window has no maximise button, but some window managers offer one anyway (and
    // maximise on a double click on the title bar); the controls sit at fixed places, so
    // the window never grows beyond its design size. It stays resizable below it.
    setMaximumSize(kClientWidth, kClientHeight);

    m_archiver->Prompts.askFailure = [this](const std::string& message, bool allowRetry) {
        return askFailure(this, message, allowRetry);
    };
    m_archiver->Prompts.askOverwrite = [this](const std::string& question) { return askOverwrite(this, question); };

    buildControls();
    connectHandlers();

    // FormActivate runs when the window takes the activation back from the busy window.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* now) {
        if (now != nullptr && now != windowHandle())
            m_lastOtherActive = now;
    });
    watchProfileList();
    m_reclaim.setInterval(kReclaimIntervalMs);
    connect(&m_reclaim, &QTimer::timeout, this, &TForm1::reclaimActivation);
    // The game writes into its `system` folder while it runs, and kestrane-cli or another
    // window applies without telling this one: the marks are read again now and then, and
    // on every activation. Telling whether a folder changed takes milliseconds.
    m_markRefresh.setInterval(kMarkRefreshMs);
    connect(&m_markRefresh, &QTimer::timeout, this, &TForm1::refreshMarks);
    m_markRefresh.start();
}

TForm1::~TForm1() = default;

void TForm1::buildControls() {
    m_list = place(new TXPListBox(this), 4, 5, 137, 252);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSortingEnabled(false);
    m_list->setUniformItemSizes(true);

    m_controlPanel = place(new TXPGroupBox(QString::fromUtf8("Панель управления"), this), 144, 152, 225, 145);
    m_add = button(m_controlPanel, "Добавить сервер", 8, 16, 209, 25);
    m_delete = button(m_controlPanel, "Удалить", 120, 48, 97, 25);
    m_save = button(m_controlPanel, "Сохранить", 8, 48, 97, 25);
    m_cancel = button(m_controlPanel, "Отменить", 8, 80, 97, 25);
    m_rename = button(m_controlPanel, "Изменить назв.", 120, 80, 97, 25);
    m_exit = button(m_controlPanel, "Выход", 8, 112, 209, 25);

    m_settingsPanel = place(new TXPGroupBox(this), 144, 0, 225, 153);
    m_colourLabel = place(new TShadowLabel(m_settingsPanel), 8, 7, 1, 1);
    m_colourLabel->setForegroundColor(clActiveCaption);
    m_colourLabel->setBackgroundColor(clMenu);
    m_systemsLabel = label(m_settingsPanel, "Путь к папке систем", 8, 8, 106, 13);
    m_systemsField = place(new TXPEdit(m_settingsPanel), 8, 24, 129, 21);
    m_systemsBrowse = button(m_settingsPanel, "Выбрать", 142, 24, 75, 21);
    m_gameLabel = label(m_settingsPanel, "Путь к папка с игрой:", 8, 48, 110, 13);
    m_gameField = place(new TXPEdit(m_settingsPanel), 8, 64, 129, 21);
    m_gameBrowse = button(m_settingsPanel, "Выбрать", 142, 64, 75, 21);
    m_nameLabel = label(m_settingsPanel, "Название сервера:", 8, 88, 98, 13);
    m_nameField = place(new TXPEdit(m_settingsPanel), 8, 104, 209, 21);
    m_archiveBox = place(new TXPCheckBox(m_settingsPanel), 8, 128, 120, 17);
    m_archiveBox->setCaption(QString::fromUtf8("Архивировать"));
    m_archiveBox->setChecked(true);

    m_apply = button(this, "Выбрать сервер", 4, 264, 137, 25);
    QFont bold = m_apply->font();
    bold.setBold(true);
    m_apply->setFont(bold);

    // Tab order: list, control panel, settings panel, apply button; within each panel
    // in the order of its table.
    QWidget* order[] = {m_list,         m_add,           m_delete,    m_save,       m_cancel,    m_rename,     m_exit,
                        m_systemsField, m_systemsBrowse, m_gameField, m_gameBrowse, m_nameField, m_archiveBox, m_apply};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void TForm1::connectHandlers() {
    // While an action pumps messages, clicks still arrive; every button ignores them then,
    // so that no second action, mode change or folder picker starts inside the running one.
    auto on = [this](TXPButton* b, auto handler) {
        connect(b, &QAbstractButton::clicked, this, [this, handler] {
            if (!m_actionRunning)
                guarded(handler);
        });
    };
    on(m_add, [this] { addClick(); });
    on(m_rename, [this] { renameClick(); });
    on(m_save, [this] { saveClick(); });
    on(m_cancel, [this] { cancelClick(); });
    on(m_exit, [this] { close(); });
    on(m_systemsBrowse, [this] { pickFolder(m_systemsField, m_gameField); });
    on(m_gameBrowse, [this] { pickFolder(m_gameField, m_nameField); });
    on(m_apply, [this] { runAction([this] { ApplyProfile(*this, m_profileArchive.get()); }); });
    on(m_delete, [this] { runAction([this] { DeleteProfile(*this); }); });
    connect(m_systemsField, &QLineEdit::textChanged, this, [this] { guarded([this] { gameFolderFill(); }); });
    // The list's context menu, and its shortcuts in browse mode: Ctrl+S saves the game's
    // current system folder back into the selected profile, Ctrl+Z puts back the system
    // folder the last apply replaced.
    auto browseAction = [this](const char* text, const QKeySequence& keys, std::function<void()> action) {
        auto* a = new QAction(q(text), this);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, action] {
            if (!m_actionRunning && m_apply->isEnabled())
                guarded([this, action] { runAction(action); });
        });
        addAction(a);
        return a;
    };
    m_updateAction = browseAction(text::kUpdateFromGame, QKeySequence::Save,
                                  [this] { UpdateProfile(*this, m_profileArchive.get()); });
    m_undoAction = browseAction(text::kUndoMenu, QKeySequence::Undo, [this] { UndoApply(*this); });
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (m_actionRunning || !m_apply->isEnabled() || !m_list->itemAt(at))
            return;
        selectEntry(m_list->row(m_list->itemAt(at)));
        QMenu menu(this);
        menu.addAction(m_updateAction);
        menu.addAction(m_undoAction);
        m_contextMenu = &menu;
        menu.exec(m_list->viewport()->mapToGlobal(at));
        m_contextMenu = nullptr;
    });
}

void TForm1::setBusyWindow(TForm2* busy) { m_busy = busy; }

// --- modes ------------------------------------------------------------------------

void TForm1::SetWindowMode(bool browse) {
    m_browseMode = browse;
    for (QWidget* w : std::initializer_list<QWidget*>{m_list, m_apply, m_add, m_delete, m_rename, m_exit})
        w->setEnabled(browse);
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_save, m_cancel, m_systemsLabel, m_systemsField, m_systemsBrowse, m_gameLabel,
                                         m_gameField, m_gameBrowse, m_nameLabel, m_nameField, m_archiveBox})
        w->setEnabled(!browse);
}

void TForm1::RefreshMainWindow() {
    SetWindowMode(true);
    if (ProfileListExists())
        LoadProfileList(*this);
    selectFirstEntry(*this);
}

void TForm1::ClearEntryFields() {
    m_systemsField->clear();
    m_nameField->clear();
    m_gameField->clear();
}

int TForm1::SelectedIndex() const {
    int index = -1;
    for (int i = 0; i < m_list->count(); ++i)
        if (m_list->item(i)->isSelected())
            index = i;
    return index;
}

void TForm1::FormActivate() {
    RefreshMainWindow();
    m_renameFlag = false;
}

void TForm1::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    // A window manager that maximises the window regardless of its size hint is answered
    // by restoring it: the window keeps its design size and place.
    if (e->type() == QEvent::WindowStateChange && (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        QTimer::singleShot(0, this,
                           [this] { setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen)); });
}

// --- handlers ---------------------------------------------------------------------

void TForm1::addClick() { SetWindowMode(false); }

void TForm1::renameClick() {
    SetWindowMode(false);
    for (QWidget* w : std::initializer_list<QWidget*>{m_systemsField, m_gameField, m_systemsLabel, m_gameLabel,
                                                      m_systemsBrowse, m_gameBrowse, m_archiveBox})
        w->setEnabled(false);
    m_renameFlag = true;
}

void TForm1::saveClick() {
    runAction([this] {
        if (m_renameFlag) {
            // A refused new name leaves the window in rename mode for another try.
            if (RenameProfile(*this, m_profileArchive.get()))
                m_renameFlag = false;
        } else {
            SaveProfile(*this, m_profileArchive.get());
        }
    });
}

void TForm1::cancelClick() {
    SetWindowMode(true);
    m_renameFlag = false;
    ClearEntryFields();
    if (m_listStale)
        followProfileList();
    selectFirstEntry(*this);
}

QString TForm1::pickerStartFolder(const TXPEdit* field) const {
    const QString text = field->text();
    if (!text.isEmpty()) {
        // A relative text names a folder below the working directory, as the actions read it.
        QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(text));
        while (!QFileInfo(folder).isDir()) {
            const QString parent = QFileInfo(folder).path();
            if (parent == folder)
                break;
            folder = parent;
        }
        if (QFileInfo(folder).isDir())
            return folder;
    }
    if (!m_lastPicked.isEmpty() && QFileInfo(m_lastPicked).isDir())
        return m_lastPicked;
    return QDir::homePath();
}

void TForm1::pickFolder(TXPEdit* field, QWidget* nextFocus) {
    const QString path = folderPicker()(this, QString::fromUtf8(kPickerTitle), pickerStartFolder(field));
    if (!path.isEmpty()) {
        m_lastPicked = path;
        field->setText(path);
    }
    nextFocus->setFocus(Qt::OtherFocusReason);
}

void TForm1::watchProfileList() {
    // options.ini is replaced by a rename, which ends a watch on the file itself: the
    // working directory is watched for the rename and the file for writes in place.
    auto* watcher = new QFileSystemWatcher(this);
    const QString file = QDir::current().absoluteFilePath(QString::fromUtf8(kProfileListFile));
    watcher->addPath(QDir::currentPath());
    auto watchFile = [watcher, file] {
        if (!watcher->files().contains(file) && QFileInfo::exists(file))
            watcher->addPath(file);
    };
    watchFile();
    // A burst of changes (a save writes the staging place, the archive and the list) is
    // read once, after it has settled.
    m_listChanged.setSingleShot(true);
    m_listChanged.setInterval(100);
    connect(watcher, &QFileSystemWatcher::directoryChanged, &m_listChanged, qOverload<>(&QTimer::start));
    connect(watcher, &QFileSystemWatcher::fileChanged, &m_listChanged, qOverload<>(&QTimer::start));
    connect(&m_listChanged, &QTimer::timeout, this, [this, watchFile] {
        watchFile();
        followProfileList();
    });
}

void TForm1::followProfileList() {
    if (m_actionRunning || !m_browseMode) {
        m_listStale = true;
        return;
    }
    m_listStale = false;
    std::vector<std::string> names;
    try {
        if (ProfileListExists())
            names = LoadProfileList();
    } catch (const std::exception&) {
        return; // a list that cannot be read now is reported by the next action that needs it
    }
    if (names == profileEntries())
        return;
    const int selected = SelectedIndex();
    const std::string kept = selected >= 0 ? m_list->item(selected)->text().toStdString() : std::string();
    setProfileEntries(names);
    const auto at = std::find(names.begin(), names.end(), kept);
    if (!kept.empty() && at != names.end())
        selectEntry(int(at - names.begin()));
    else
        selectFirstEntry(*this);
}

void TForm1::refreshMarks() {
    if (m_actionRunning || !isVisible() || isMinimized())
        return;
    markAppliedProfiles(*m_list);
}

void TForm1::gameFolderFill() {
    if (!m_gameField->text().isEmpty())
        return;
    QString s = m_systemsField->text();
    auto isSeparator = [](QChar c) { return c == u'/' || c == u'\\'; };
    if (s.isEmpty() || std::none_of(s.begin(), s.end(), isSeparator))
        return;
    while (!isSeparator(s.back()))
        s.chop(1);
    if (s.size() > 1)
        m_gameField->setText(s);
}

// --- ProfileWindow ----------------------------------------------------------------

std::string TForm1::systemsFolderText() const { return m_systemsField->text().toStdString(); }
std::string TForm1::gameFolderText() const { return m_gameField->text().toStdString(); }
std::string TForm1::nameText() const { return m_nameField->text().toStdString(); }
bool TForm1::archiveBoxTicked() const { return m_archiveBox->Checked(); }

std::vector<std::string> TForm1::profileEntries() const {
    std::vector<std::string> names;
    for (int i = 0; i < m_list->count(); ++i)
        names.push_back(m_list->item(i)->text().toStdString());
    return names;
}

void TForm1::setProfileEntries(const std::vector<std::string>& names) {
    m_list->clear();
    for (const auto& name : names) {
        auto* item = new QListWidgetItem(q(name), m_list);
        item->setSizeHint(QSize(0, kItemHeight));
    }
    markAppliedProfiles(*m_list);
}

void TForm1::selectEntry(int index) {
    if (QListWidgetItem* item = m_list->item(index))
        m_list->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
}

void TForm1::showError(const std::string& text) {
    execMessageBox(this, QMessageBox::Critical, QStringLiteral("Error"), q(text), QMessageBox::Ok);
}

void TForm1::showInformation(const std::string& text) {
    execMessageBox(this, QMessageBox::Information, QStringLiteral("Information"), q(text), QMessageBox::Ok);
}

void TForm1::showPlain(const std::string& text) {
    execMessageBox(this, QMessageBox::NoIcon, kApplicationTitle, q(text), QMessageBox::Ok);
}

bool TForm1::askYesNo(const std::string& caption, const std::string& text) {
    return execMessageBox(this, QMessageBox::Question, q(caption), q(text), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

Choice TForm1::askYesNoCancel(const std::string& caption, const std::string& text) {
    const int answer = execMessageBox(this, QMessageBox::Question, q(caption), q(text),
                                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return answer == QMessageBox::Yes ? Choice::Yes : answer == QMessageBox::No ? Choice::No : Choice::Cancel;
}

} // namespace kestrane
