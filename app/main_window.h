// The main window: the profile list, the three entry fields with their folder pickers,
// the archive box and the buttons, in browse, edit or rename mode. Its buttons run the
// profile actions, which reach the window back through ProfileWindow.
#pragma once

#include "app/profile_actions.h"
#include "app/profile_window.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <memory>

namespace archiver {
class TZipArchiver;
}

namespace controls {
class TXPButton;
class TXPCheckBox;
class TXPEdit;
class TXPGroupBox;
class TXPListBox;
class TLabel;
class TShadowLabel;
} // namespace controls

namespace kestrane {

class TForm2;
class ZipProfileArchive;

class TForm1 : public QWidget, public ProfileWindow {
    Q_OBJECT
public:
    // The client area the controls are laid out in: the outer size of 379 × 332 less the
    // classic frame and title bar.
    static constexpr int kClientWidth = 371;
    static constexpr int kClientHeight = 298;
    // How often the marks of the applied profile follow the game folders: a game that
    // writes into `system`, or an apply by kestrane-cli, shows within about this time.
    static constexpr int kMarkRefreshMs = 1000;
    // After the busy window goes, how often and how many times the activation is asked for
    // again while no window of ours has it.
    static constexpr int kReclaimIntervalMs = 250;
    static constexpr int kReclaimTries = 8;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The busy window the long actions show; created hidden at start-up, after this one.
    void setBusyWindow(TForm2* busy);
    TForm2* busyWindow() const { return m_busy; }

    // Replaces the folder dialog; tests answer it with a path, or an empty text for Cancel.
    // `startFolder` is the folder the dialog opens at.
    using FolderPicker = std::function<QString(QWidget* parent, const QString& title, const QString& startFolder)>;
    static void setFolderPicker(FolderPicker picker);
    // The picker the window uses unless replaced: Qt's folder dialog.
    static QString pickFolderWithDialog(QWidget* parent, const QString& title, const QString& startFolder);
    // Where a picker for the field opens: the folder the field names or the nearest
    // existing folder above it, else the folder picked last, else the home folder.
    QString pickerStartFolder(const controls::TXPEdit* field) const;

    // --- window state ---------------------------------------------------------------
    void SetWindowMode(bool browse);
    int SelectedIndex() const override;
    bool renameFlag() const { return m_renameFlag; }
    bool actionRunning() const { return m_actionRunning; }
    void FormActivate();

    // --- ProfileWindow --------------------------------------------------------------
    std::string systemsFolderText() const override;
    std::string gameFolderText() const override;
    std::string nameText() const override;
    bool archiveBoxTicked() const override;
    std::vector<std::string> profileEntries() const override;
    void setProfileEntries(const std::vector<std::string>& names) override;
    void selectEntry(int index) override;
    void showError(const std::string& text) override;
    void showInformation(const std::string& text) override;
    void showPlain(const std::string& text) override;
    bool askYesNo(const std::string& caption, const std::string& text) override;
    Choice askYesNoCancel(const std::string& caption, const std::string& text) override;
    void pumpMessages() override;
    void showBusyWindow() override;
    void hideBusyWindow() override;
    void RefreshMainWindow() override;
    void ClearEntryFields() override;

    // --- controls, named as in the window's layout ----------------------------------
    controls::TXPListBox* profileList() const { return m_list; }
    controls::TXPButton* addButton() const { return m_add; }
    controls::TXPButton* deleteButton() const { return m_delete; }
    controls::TXPButton* saveButton() const { return m_save; }
    controls::TXPButton* cancelButton() const { return m_cancel; }
    controls::TXPButton* renameButton() const { return m_rename; }
    controls::TXPButton* exitButton() const { return m_exit; }
    controls::TXPButton* applyButton() const { return m_apply; }
    controls::TXPButton* systemsBrowseButton() const { return m_systemsBrowse; }
    controls::TXPButton* gameBrowseButton() const { return m_gameBrowse; }
    controls::TXPEdit* systemsField() const { return m_systemsField; }
    controls::TXPEdit* gameField() const { return m_gameField; }
    controls::TXPEdit* nameField() const { return m_nameField; }
    controls::TXPCheckBox* archiveBox() const { return m_archiveBox; }
    controls::TLabel* systemsLabel() const { return m_systemsLabel; }
    controls::TLabel* gameLabel() const { return m_gameLabel; }
    controls::TLabel* nameLabel() const { return m_nameLabel; }
    controls::TXPGroupBox* controlPanel() const { return m_controlPanel; }
    controls::TXPGroupBox* settingsPanel() const { return m_settingsPanel; }
    archiver::TZipArchiver& archiver() const { return *m_archiver; }
    // The list's context menu while it is open (tests answer it), else nullptr.
    QMenu* contextMenu() const { return m_contextMenu; }
    // The timer that marks the applied profiles again every kMarkRefreshMs.
    QTimer& markRefreshTimer() { return m_markRefresh; }

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    // While an action runs: swallows the user's input to this window.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    // Runs a handler inside the top-level error handler.
    void guarded(const std::function<void()>& handler);
    // Runs a profile action unless one is running already (pumped clicks are ignored).
    void runAction(const std::function<void()>& action);
    void pickFolder(controls::TXPEdit* field, QWidget* nextFocus);
    void gameFolderFill();
    // Reloads the list when options.ini changed on disk, keeping the selected name;
    // waits for browse mode and the end of a running action.
    void watchProfileList();
    void followProfileList();
    // Marks the applied profiles again without touching the list's entries or selection;
    // not while an action runs (runAction marks when it ends) or the window is out of sight.
    void refreshMarks();
    // The activation is back from the busy window: FormActivate, or after the action.
    void returnFromBusyWindow();
    // Asks for the activation again while the window system leaves it with the hidden
    // busy window or with no window of ours, a few times at most.
    void reclaimActivation();

    void addClick();
    void renameClick();
    void saveClick();
    void cancelClick();

    controls::TXPListBox* m_list = nullptr;
    QAction* m_updateAction = nullptr;
    QAction* m_undoAction = nullptr;
    QMenu* m_contextMenu = nullptr;
    controls::TXPGroupBox* m_controlPanel = nullptr;
    controls::TXPGroupBox* m_settingsPanel = nullptr;
    controls::TXPButton* m_add = nullptr;
    controls::TXPButton* m_delete = nullptr;
    controls::TXPButton* m_save = nullptr;
    controls::TXPButton* m_cancel = nullptr;
    controls::TXPButton* m_rename = nullptr;
    controls::TXPButton* m_exit = nullptr;
    controls::TXPButton* m_apply = nullptr;
    controls::TXPButton* m_systemsBrowse = nullptr;
    controls::TXPButton* m_gameBrowse = nullptr;
    controls::TShadowLabel* m_colourLabel = nullptr;
    controls::TLabel* m_systemsLabel = nullptr;
    controls::TLabel* m_gameLabel = nullptr;
    controls::TLabel* m_nameLabel = nullptr;
    controls::TXPEdit* m_systemsField = nullptr;
    controls::TXPEdit* m_gameField = nullptr;
    controls::TXPEdit* m_nameField = nullptr;
    controls::TXPCheckBox* m_archiveBox = nullptr;

    std::unique_ptr<archiver::TZipArchiver> m_archiver;
    std::unique_ptr<ZipProfileArchive> m_profileArchive;
    TForm2* m_busy = nullptr;
    bool m_renameFlag = false;
    bool m_browseMode = true;
    bool m_actionRunning = false;
    bool m_activatedOnce = false;
    // The activation came back from the busy window while an action ran: FormActivate
    // runs once the action is over, so that it does not change the list under the action.
    bool m_activationPending = false;
    QPointer<QWindow> m_lastOtherActive; // the last window other than this one to be active
    QString m_lastPicked;                // the folder the last picker returned
    QTimer m_listChanged;                // options.ini changed: reload once the writes settle
    bool m_listStale = false;            // a change seen outside browse mode waits for it
    QTimer m_markRefresh;                // the marks follow the game folders
    QTimer m_reclaim;                    // asks for the activation again after the busy window
    int m_reclaimsLeft = 0;
    bool m_returnPending = false; // the busy window went; the return from it has not come yet
};

} // namespace kestrane
