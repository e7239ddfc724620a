#pragma once

// Form1, the program's one working window.

#include "shred/ShredMode.h"
#include "shred/ShredView.h"
#include "windows/MessageBox.h"
#include "windows/Platform.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <optional>

class AboutWindow;
class CheckList;
class FileList;
class InstanceGuard;
class ModeMenu;
class NotesWindow;
class PathBox;
class PictureButton;
class ProgressPainter;
class TitleBarCloseWatch;
class RunProgress;
class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QRadioButton;
class QStatusBar;

// Form1, the program's one working window: the single-shred path box and its buttons, the batch
// check-list with its selection controls, the statistics frame, the progress bar, the status bar and
// the menus. It holds the current ShredMode; the work behind each control lives in other classes.
class MainWindow : public QMainWindow, private ShredView
{
    Q_OBJECT

public:
    explicit MainWindow(Platform platform);
    ~MainWindow() override;

    // The load step, run once before the window is first shown. Returns false when another copy of the
    // program is already running: the user has been told, and this copy must end without showing the
    // window.
    bool load(InstanceGuard& guard);

    // Shows the window, centred on the screen the first time.
    void showCentred();

    ShredMode shredMode() const;

    AboutWindow* aboutWindow() const;
    NotesWindow* notesWindow() const;

    FileList& fileList() const;

signals:
    // The window has closed: the program ends now.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    void buildSingleShredArea(QWidget* client);
    void buildBatchShredArea(QWidget* client);
    void buildStatusArea(QWidget* client);
    void setTabOrder();
    void describeForAssistiveTechnology();

    // Open... : the open-file dialog's file name goes into the path box, also after a cancel.
    void openFile();
    // A file dropped on the path box, taken as a pick.
    void takeDroppedFile(const QByteArray& path);
    // Runs one shred; input stays held meanwhile, and a close asked for during it is done after it.
    template <typename Run> void runShred(Run run);
    // Shred! : the single-file shred of the path in the path box.
    void shredFile();
    // B-Shred! : the batch shred of the checked entries of the list.
    void shredBatch();

    // What a shred run shows and asks.
    void tell(Notice notice) override;
    bool confirmShred() override;
    void warn(const std::string& text) override;
    void reportShredded(const std::string& text) override;
    void clearPath() override;
    std::vector<ListedFile> listEntries() override;
    void refillList(const std::vector<ChosenFile>& files) override;
    void reportBatchShredded(int count) override;
    MessageBox::Answer showMessage(const MessageBox::Message& message);

    void showAbout();
    void showNotes();
    void openMessagePage();

    Platform m_platform;
    ShredMode m_shredMode = kStandardMode;
    // The file last picked in the open-file dialog, as it was when picked.
    std::optional<ChosenFile> m_picked;
    bool m_centred = false;
    bool m_running = false;
    std::unique_ptr<TitleBarCloseWatch> m_titleBarClose;
    bool m_closeAsked = false;

    PathBox* m_text1 = nullptr;
    PictureButton* m_command1 = nullptr;
    PictureButton* m_command2 = nullptr;
    PictureButton* m_command3 = nullptr;
    CheckList* m_list1 = nullptr;
    FileList* m_fileList = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label4 = nullptr;
    QRadioButton* m_option1 = nullptr;
    QRadioButton* m_option2 = nullptr;
    QRadioButton* m_option3 = nullptr;
    QStatusBar* m_sb1 = nullptr;
    QLabel* m_panel1 = nullptr;
    QLabel* m_panel2 = nullptr;
    QProgressBar* m_pb1 = nullptr;
    QAction* m_standardEntry = nullptr;
    QAction* m_enhancedEntry = nullptr;
    ModeMenu* m_modeMenu = nullptr;

    std::unique_ptr<ProgressPainter> m_painter;
    std::unique_ptr<RunProgress> m_progress;

    QPointer<AboutWindow> m_about;
    QPointer<NotesWindow> m_notes;
};
