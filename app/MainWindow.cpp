// Form1 built and wired: its controls, menus, drops, runs and the closing that waits for a run.

#include "app/MainWindow.h"

#include "app/InstanceGuard.h"
#include "app/PathBox.h"
#include "app/PictureButton.h"
#include "app/ProgressPainter.h"
#include "app/TitleBarCloseWatch.h"
#include "assets/ProgramFacts.h"
#include "filelist/CheckList.h"
#include "filelist/CountCaption.h"
#include "filelist/FileList.h"
#include "filelist/NativePaths.h"
#include "shred/BatchShred.h"
#include "shred/Refusals.h"
#include "shred/RunProgress.h"
#include "shred/SingleShred.h"
#include "windows/AboutWindow.h"
#include "windows/CheckMarkStyle.h"
#include "windows/Design.h"
#include "windows/FileDialog.h"
#include "windows/LinkOpener.h"
#include "windows/LinkTargets.h"
#include "windows/MessageBox.h"
#include "windows/ModeMenu.h"
#include "windows/NotesWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QUrl>

namespace {
const QColor kWindowColor(248, 224, 192);

QLabel* makeHeading(QWidget* parent, const char* name, const QString& text, QPoint topLeftTwips)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(Design::font("MS Serif", 12, Design::Bold));
    label->move(twips(topLeftTwips.x()), twips(topLeftTwips.y()));
    label->adjustSize(); // sized to its text, on the window's background
    return label;
}

PictureButton* makeButton(
    QWidget* parent, const char* name, const QString& caption, const QString& picture, const QRect& geometryTwips)
{
    auto* button = new PictureButton(caption, Design::picture(picture), parent);
    button->setObjectName(name);
    button->setFont(Design::font("MS Serif", 12, Design::Bold));
    button->setGeometry(twipsRect(geometryTwips.x(), geometryTwips.y(), geometryTwips.width(), geometryTwips.height()));
    return button;
}

QRadioButton* makeOption(QWidget* parent, const char* name, const QString& caption, const QRect& geometryTwips)
{
    auto* option = new QRadioButton(caption, parent);
    option->setObjectName(name);
    option->setFont(Design::font("MS Sans Serif", 9.75, Design::Bold));
    option->setGeometry(twipsRect(geometryTwips.x(), geometryTwips.y(), geometryTwips.width(), geometryTwips.height()));
    Design::setBackground(option, kWindowColor);
    return option;
}

QLabel* makeStatistic(QWidget* frame, const char* name, QStringView suffix, QPoint topLeftTwips)
{
    auto* label = new QLabel(CountCaption(0, suffix), frame);
    label->setObjectName(name);
    label->move(twips(topLeftTwips.x()), twips(topLeftTwips.y()));
    label->adjustSize();
    return label;
}

QAction* makeEntry(QMenu* menu, const char* name, const QString& caption)
{
    QAction* entry = menu->addAction(caption);
    entry->setObjectName(name);
    return entry;
}

void makeSeparator(QMenu* menu, const char* name)
{
    menu->addSeparator()->setObjectName(name);
}
} // namespace

MainWindow::MainWindow(Platform platform)
    : QMainWindow(nullptr,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                      Qt::MSWindowsFixedSizeDialogHint) // on Windows a thin frame, which cannot be dragged
    , m_platform(platform)
{
    setObjectName("Form1");
    setWindowTitle(ZORVIK_TITLE);
    setWindowIcon(QIcon(":/assets/icon.png"));

    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->setFixedSize(twips(8295), twips(5655));
    client->setFont(Design::font("SimSun", 9));
    Design::setBackground(client, kWindowColor);
    setCentralWidget(client);

    auto* logo = new QLabel(client);
    logo->setObjectName("Image1");
    logo->setGeometry(twipsRect(45, 75, 1800, 5160));
    logo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    logo->setLineWidth(2);
    // A sunken frame's lit sides are white, which vanishes against the cream logo: a light grey
    // keeps them seen, still lighter than the shaded sides.
    QPalette framed = logo->palette();
    framed.setColor(QPalette::Light, QColor(200, 200, 200));
    logo->setPalette(framed);
    logo->setAlignment(Qt::AlignCenter);
    logo->setPixmap(Design::picture(":/assets/logo.png"));

    buildSingleShredArea(client);
    buildBatchShredArea(client);
    buildStatusArea(client);

    Design::makeLine(client, "Line2", {1920, 0}, {1920, 5200}, Qt::black);
    Design::makeLine(client, "Line3", {1920, 5205}, {8586, 5205}, Qt::black);
    Design::makeLine(client, "Line4", {0, 0}, {10920, 0}, Qt::black);

    buildMenus();
    setTabOrder();
    describeForAssistiveTechnology();

    m_painter = std::make_unique<ProgressPainter>(m_pb1, m_panel1, m_panel2);
    m_progress = std::make_unique<RunProgress>(m_painter.get());
    connect(m_command1, &QAbstractButton::clicked, this, &MainWindow::openFile);
    connect(m_text1, &PathBox::fileDropped, this, &MainWindow::takeDroppedFile);
    connect(m_command2, &QAbstractButton::clicked, this, &MainWindow::shredFile);
    connect(m_command3, &QAbstractButton::clicked, this, &MainWindow::shredBatch);
    connect(m_option1, &QAbstractButton::clicked, m_fileList, &FileList::checkAll);
    connect(m_option2, &QAbstractButton::clicked, m_fileList, &FileList::uncheckAll);
    connect(m_option3, &QAbstractButton::clicked, m_fileList, &FileList::clear);

    // Fixed border: the window keeps the size of its menu bar and client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

MainWindow::~MainWindow()
{
    delete m_about;
    delete m_notes;
}

void MainWindow::buildSingleShredArea(QWidget* client)
{
    makeHeading(client, "Label1", "Single Shred!", {2040, 85})->setToolTip("Shred an individual file.");

    m_text1 = new PathBox(client);
    m_text1->setObjectName("Text1");
    m_text1->setFont(Design::font("Tahoma", 9));
    m_text1->setGeometry(twipsRect(2040, 460, 6180, 365));
    Design::setFieldColors(m_text1, QColor(128, 255, 128), QColor(255, 0, 0));

    m_command1 = makeButton(client, "Command1", "Open... (&O)", ":/assets/button.png", {3050, 920, 1995, 375});
    m_command1->setToolTip("Open the file to shred.");
    m_command2 = makeButton(client, "Command2", "Shred! (&S)", ":/assets/button.png", {5160, 920, 1995, 375});
    m_command2->setToolTip("Shred opened file.");

    auto* divider = new QLabel(client);
    divider->setObjectName("Label6");
    divider->setGeometry(twipsRect(2040, 1425, 6180, 50));
    divider->setFrameShape(QFrame::Box);
    divider->setLineWidth(1);
    Design::setBackground(divider, QColor(192, 192, 192));
    divider->setEnabled(false);
}

void MainWindow::buildBatchShredArea(QWidget* client)
{
    makeHeading(client, "Label2", "Batch Shred!", {2040, 1560})
        ->setToolTip("Shred one or more files at the same time.");

    auto* hint = new QLabel("[ Drag the file to the list below ]", client);
    hint->setObjectName("Label5");
    hint->setFont(Design::font("MS Sans Serif", 9.75, Design::Bold));
    hint->setGeometry(twipsRect(3600, 1580, 3855, 255));
    Design::setForeground(hint, QColor(0, 128, 0));

    m_list1 = new CheckList(client);
    m_list1->setObjectName("List1");
    m_list1->setFont(Design::font("Tahoma", 9));
    m_list1->setGeometry(twipsRect(2040, 1920, 6180, 2220));
    m_list1->setSortingEnabled(false);
    Design::setFieldColors(m_list1, QColor(255, 192, 255), QColor(0, 0, 255));

    m_frame1 = new QGroupBox("Statistics ", client);
    m_frame1->setObjectName("Frame1");
    m_frame1->setGeometry(twipsRect(2160, 4230, 1815, 855));
    Design::setBackground(m_frame1, kWindowColor);
    m_label3 = makeStatistic(m_frame1, "Label3", u" selected", {120, 300});
    m_label4 = makeStatistic(m_frame1, "Label4", u" displayed", {120, 600});

    m_option1 = makeOption(client, "Option1", "All (&A)", {4080, 4320, 1335, 255});
    m_option2 = makeOption(client, "Option2", "None (&N)", {5280, 4320, 1455, 255});
    m_option3 = makeOption(client, "Option3", "Clear (&C)", {6765, 4320, 1335, 255});

    m_command3 = makeButton(client, "Command3", "B-Shred! (&B)", ":/assets/button-wide.png", {4425, 4680, 3300, 375});
    m_command3->setToolTip("Shred all selected files.");

    m_fileList = new FileList(m_list1, m_label3, m_label4, m_platform.messages, m_platform.files, this);
}

void MainWindow::buildStatusArea(QWidget* client)
{
    m_sb1 = new QStatusBar(client);
    m_sb1->setObjectName("sb1");
    m_sb1->setSizeGripEnabled(false);
    m_sb1->setFont(Design::font("Trebuchet MS", 8.25));
    m_sb1->setGeometry(twipsRect(0, 5280, 8295, 375));

    const int firstPanelWidth = twips(5910);
    m_panel1 = new QLabel("Ready", m_sb1);
    m_panel1->setObjectName("sb1Panel1");
    m_panel1->setGeometry(0, 0, firstPanelWidth, m_sb1->height());
    m_panel2 = new QLabel(m_sb1);
    m_panel2->setObjectName("sb1Panel2");
    m_panel2->setGeometry(firstPanelWidth, 0, m_sb1->width() - firstPanelWidth, m_sb1->height());
    for (QLabel* panel : {m_panel1, m_panel2}) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(3);
    }

    m_pb1 = new QProgressBar(client);
    m_pb1->setObjectName("pb1");
    m_pb1->setGeometry(twipsRect(7170, 5355, 1095, 255));
    m_pb1->setRange(0, 100);
    m_pb1->setValue(0);
    m_pb1->setTextVisible(false);
    m_pb1->hide();
    m_pb1->raise(); // in front of the status bar's right end
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu("File(&F)");
    file->setObjectName("f");
    QMenu* mode = file->addMenu("Shred! mode select(&S)");
    mode->setObjectName("mode");
    m_standardEntry = makeEntry(mode, "null_", "Standard mode [Default](&S)");
    m_enhancedEntry = makeEntry(mode, "random", "Enhanced mode(&R)");
    for (QAction* entry : {m_standardEntry, m_enhancedEntry}) {
        entry->setCheckable(true);
    }
    m_standardEntry->setChecked(true);
    CheckMarkStyle::apply(mode);
    makeSeparator(file, "ff");
    connect(makeEntry(file, "e", "Exit(&E)"), &QAction::triggered, this, &QWidget::close);

    QMenu* help = menuBar()->addMenu("Help(&H)");
    help->setObjectName("h");
    connect(makeEntry(help, "about", "About...(&A)"), &QAction::triggered, this, &MainWindow::showAbout);
    connect(makeEntry(help, "note", "Notes(&N)"), &QAction::triggered, this, &MainWindow::showNotes);
    makeSeparator(help, "gsadfasdf");
    connect(makeEntry(help, "mol", "Message online(&M)"), &QAction::triggered, this, &MainWindow::openMessagePage);

    m_modeMenu = new ModeMenu(m_standardEntry, m_enhancedEntry, m_shredMode, this);
}

void MainWindow::describeForAssistiveTechnology()
{
    // Buttons, option buttons and headings are named by their captions and described by their
    // tooltips; the controls without a caption are named here.
    const auto describe = [this](const char* name, const QString& accessibleName, const QString& description) {
        QWidget* widget = findChild<QWidget*>(name);
        if (!accessibleName.isEmpty()) {
            widget->setAccessibleName(accessibleName);
        }
        widget->setAccessibleDescription(description);
    };
    describe("Image1", "Zorvik V1.0", "The program's logo.");
    describe("Text1", "Path of the file to shred", "The file that Shred! overwrites and deletes; Open... fills it in.");
    const QString listUse = "Drag files here, or paste files copied in a file manager with Ctrl+V, then check the "
                            "ones B-Shred! destroys.";
    describe("List1", "Files to shred in a batch", listUse);
    m_list1->setToolTip(listUse); // where no entry's own tooltip shows its path
    describe("Option1", {}, "Check every file in the list.");
    describe("Option2", {}, "Uncheck every file in the list.");
    describe("Option3", {}, "Empty the list.");
    describe("pb1", "Shredding progress", "How much of the current run has been written.");
    // The status panels are named by what they show, so that a screen reader hears a run start, go
    // on and end; QLabel announces each change of its text while it has no fixed name.
    describe("sb1Panel1", {}, "Activity: what the program is doing.");
    describe("sb1Panel2", {}, "Percentage finished of the current run.");
}

void MainWindow::setTabOrder()
{
    // Only the text box, the push buttons, the list and the option buttons take the focus.
    const QList<QWidget*> order = {
        m_text1, m_command1, m_command2, m_list1, m_command3, m_option1, m_option2, m_option3};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

bool MainWindow::load(InstanceGuard& guard)
{
    if (!guard.acquire()) {
        m_platform.messages.show(nullptr,
                                 {"This program is already running!",
                                  "Prompting",
                                  MessageBox::Icon::Information,
                                  MessageBox::Buttons::Ok,
                                  MessageBox::Answer::Ok});
        return false;
    }
    m_platform.fileDialog.setTitle("Open...");
    // Watched from the start: another program may destroy the window at any time, run or not.
    m_titleBarClose = std::make_unique<TitleBarCloseWatch>(this);
    return true;
}

void MainWindow::showCentred()
{
    if (!m_centred) {
        ensurePolished();
        adjustSize();
        Design::centreOnScreen(this);
        m_centred = true;
    }
    show();
}

ShredMode MainWindow::shredMode() const
{
    return m_shredMode;
}

AboutWindow* MainWindow::aboutWindow() const
{
    return m_about;
}

NotesWindow* MainWindow::notesWindow() const
{
    return m_notes;
}

namespace {
// The file a path given as text names; tied to the file it names now when `files` are given.
ChosenFile chosenByText(const QString& text, FileSystem* files)
{
    const NativePaths::TextPath path = NativePaths::fromText(text);
    ChosenFile chosen(path.path);
    if (!path.unique) {
        chosen.refusal = NotOneLookAlike(DisplayPath(path.path));
    } else if (files) {
        if (const MeasuredFile found = IdentifyFile(path.path, *files); found.ok()) {
            chosen.identity = found.identity;
        }
    }
    return chosen;
}
} // namespace

void MainWindow::openFile()
{
    // A pick pins the file its path names now; a cancel keeps what the earlier pick pinned.
    if (m_platform.fileDialog.show(this)) {
        m_picked = chosenByText(m_platform.fileDialog.fileName(), &m_platform.files);
    }
    m_text1->setText(QDir::toNativeSeparators(m_platform.fileDialog.fileName()));
}

void MainWindow::takeDroppedFile(const QByteArray& path)
{
    const NativePath native = NativePaths::fromHeld(path);
    const MeasuredFile found = IdentifyFile(native, m_platform.files);
    m_picked = ChosenFile(native, found.ok() ? std::optional(found.identity) : std::nullopt);
    m_text1->setText(NativePaths::shown(native));
    m_platform.fileDialog.setFileName(NativePaths::shown(native));
}

template <typename Run> void MainWindow::runShred(Run run)
{
    // Drops are window-system messages, not input that the run holds back: refused while it runs.
    m_running = true;
    if (!m_titleBarClose) {
        m_titleBarClose = std::make_unique<TitleBarCloseWatch>(this);
    }
    m_titleBarClose->watch(true);
    m_text1->setAcceptDrops(false);
    m_list1->setAcceptDrops(false);
    run();
    m_list1->setAcceptDrops(true);
    m_text1->setAcceptDrops(true);
    m_titleBarClose->watch(false);
    m_running = false;
    if (m_closeAsked || m_titleBarClose->asked() || m_titleBarClose->windowGone()) {
        close();
    }
}

void MainWindow::shredFile()
{
    // A path typed into the box, or changed after the pick, is pinned when the run measures it. The
    // pick keeps the name's exact bytes, which the text shown cannot always carry.
    const QString text = m_text1->text();
    const bool picked = m_picked && NativePaths::shown(m_picked->path) == text;
    const ChosenFile file = picked ? *m_picked : chosenByText(text, nullptr);
    runShred([&] { shredSingleFile(file, m_shredMode, *this, *m_progress, m_platform.files, m_platform.traces); });
}

void MainWindow::shredBatch()
{
    runShred([&] { shredCheckedFiles(m_shredMode, *this, *m_progress, m_platform.files, m_platform.traces); });
}

FileList& MainWindow::fileList() const
{
    return *m_fileList;
}

std::vector<ListedFile> MainWindow::listEntries()
{
    return m_fileList->entries();
}

void MainWindow::refillList(const std::vector<ChosenFile>& files)
{
    m_fileList->refill(files);
}

void MainWindow::reportBatchShredded(int count)
{
    showMessage({CountCaption(count, u" shredded !"), "Mission Accomplished !", MessageBox::Icon::Information});
}

MessageBox::Answer MainWindow::showMessage(const MessageBox::Message& message)
{
    m_painter->flush(); // the box must not hide progress the run has made
    const MessageBox::Answer answer = m_platform.messages.show(this, message);
    // A run does not return to the event loop, so without this the place where the box stood would
    // show the dead box until the run ends on desktops that do not keep window contents.
    repaint();
    return answer;
}

void MainWindow::tell(Notice notice)
{
    using enum MessageBox::Icon;
    switch (notice) {
    case Notice::SelectFile:
        showMessage({"Please select a file.", "Prompting", Exclamation});
        break;
    case Notice::SelectFiles:
        showMessage({"Please select one or more files.", "Prompting", Exclamation});
        break;
    case Notice::InvalidFile:
        showMessage({"The file you tried to shred is an invalid file.", "Warning!", Exclamation});
        break;
    }
}

bool MainWindow::confirmShred()
{
    return showMessage({"Are you sure to shred file(s)?",
                        "Confirm?",
                        MessageBox::Icon::Question,
                        MessageBox::Buttons::YesNo,
                        MessageBox::Answer::No}) == MessageBox::Answer::Yes;
}

void MainWindow::warn(const std::string& text)
{
    showMessage({NativePaths::engineLine(text), "Warning!", MessageBox::Icon::Exclamation});
}

void MainWindow::reportShredded(const std::string& text)
{
    showMessage({QString::fromStdString(text), "Mission Accomplished !", MessageBox::Icon::Information});
}

void MainWindow::clearPath()
{
    m_text1->clear();
    m_platform.fileDialog.setFileName(QString());
}

// The window keeps its size. A frame drawn by Qt itself (on Wayland, without a window manager's
// frame) offers a maximize button whatever the window allows: its request is taken back at once.
void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMaximized)) {
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(windowState() & ~Qt::WindowMaximized); }, Qt::QueuedConnection);
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        // Asked for during a run, from the title bar while a box was open: done once the run ends,
        // not half-way through it, and not forgotten.
        m_closeAsked = true;
        event->ignore();
        return;
    }
    // Closing the main window by any means ends the program, and the About and Notes windows go with it.
    if (m_about) {
        m_about->close();
    }
    if (m_notes) {
        m_notes->close();
    }
    event->accept();
    emit unloaded();
}

void MainWindow::showAbout()
{
    if (!m_about) {
        m_about = new AboutWindow(m_platform.links);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void MainWindow::showNotes()
{
    if (!m_notes) {
        m_notes = new NotesWindow();
    }
    m_notes->show();
    m_notes->raise();
    m_notes->activateWindow();
}

void MainWindow::openMessagePage()
{
    m_platform.links.open(QUrl(LinkTargets::messagePage()));
}
