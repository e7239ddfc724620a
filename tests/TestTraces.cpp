// What the desktop remembers of a shredded file, besides its thumbnails: the recent-files lists of
// GTK and KDE programs and the trash's record, each as those programs write it. One table per trace,
// and the window's two runs from the trash.

#include "shred/FillBlock.h"
#include "shred/OverwriteEngine.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowTestCase.h"
#include "traces/DeletedNames.h"
#include "traces/RecentFiles.h"
#include "traces/TraceFile.h"
#include "traces/TrashRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
// The start and end of a list as GTK's RecentManager writes it (GTK 3.24 over GLib 2.74).
const QByteArray kListStart = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                              "<xbel version=\"1.0\"\n"
                              "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
                              "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n"
                              ">\n";
const QByteArray kListEnd = "</xbel>";

// A bookmark byte for byte as GTK's RecentManager writes it.
QByteArray gtkBookmark(const QByteArray& href)
{
    const QByteArray when = "2026-12-09T03:57:31.318695Z";
    return "  <bookmark href=\"" + href + "\" added=\"" + when + "\" modified=\"" + when + "\" visited=\"" + when +
           "\">\n"
           "    <info>\n"
           "      <metadata owner=\"http://freedesktop.org\">\n"
           "        <mime:mime-type type=\"image/png\"/>\n"
           "        <bookmark:applications>\n"
           "          <bookmark:application name=\"viewer\" exec=\"&apos;viewer %u&apos;\" modified=\"" +
           when +
           "\" count=\"1\"/>\n"
           "        </bookmark:applications>\n"
           "      </metadata>\n"
           "    </info>\n"
           "  </bookmark>\n";
}

// A bookmark as other programs write it: no applications, no time but its addition, a title.
QByteArray plainBookmark(const QByteArray& href)
{
    return "  <bookmark href=\"" + href +
           "\" added=\"2019-05-04T10:00:00Z\"><title>Old &amp; kept</title></bookmark>\n";
}

QString uri(const QString& path)
{
    return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
}

// The system's trace files with a step scripted: a thing another program does once, right after the
// first file is opened or right before the first replacement, or a replacement that fails.
class ScriptedTraceFiles : public SystemTraceFiles
{
public:
    explicit ScriptedTraceFiles(FileSystem& files)
        : SystemTraceFiles(m_block, files)
    {
    }

    OwnedFile openOwned(int folder, const std::string& name) override
    {
        OwnedFile file = SystemTraceFiles::openOwned(folder, name);
        if (afterOpen) {
            std::exchange(afterOpen, nullptr)();
        }
        return file;
    }

    int replace(int folder,
                const std::string& name,
                const std::string& text,
                const struct stat& before,
                const std::string& read) override
    {
        if (beforeReplace) {
            std::exchange(beforeReplace, nullptr)();
        }
        return failure != 0 ? failure : SystemTraceFiles::replace(folder, name, text, before, read);
    }

    std::function<void()> afterOpen;
    std::function<void()> beforeReplace;
    int failure = 0;

private:
    const FillBlock m_block = BuildFillBlock(kStandardMode);
};

// The names of the file at `path`, pinned as a run pins it; the file stays.
DeletedNames namesOf(const QString& path, const QString& data, FileSystem& files)
{
    PinnedFile pinned;
    FileFacts facts;
    files.pin(QFile::encodeName(path).toStdString(), pinned, facts);
    ScriptedTraceFiles traceFiles(files);
    return NameDeletedFile({pinned.path = QFile::encodeName(path).toStdString(), &pinned},
                           QFile::encodeName(data).toStdString(),
                           traceFiles);
}

// Gives `path` to another user, where the test may.
bool giveAway(const QString& path)
{
    return ::geteuid() == 0 && ::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
}

// A thumbnail of the file at `path` as a file manager names it, in the cache's folder of `size`.
QString thumbnailOf(const QString& cache, const char* size, const QString& path)
{
    const QByteArray md5 = QCryptographicHash::hash(QUrl::fromLocalFile(path).toEncoded(), QCryptographicHash::Md5);
    return cache + "/thumbnails/" + size + "/" + QString::fromLatin1(md5.toHex()) + ".png";
}
} // namespace

class TestTraces : public WindowTestCase
{
    Q_OBJECT

private slots:
    void recentListForgetsOnlyTheFile_data();
    void recentListForgetsOnlyTheFile();
    void kdeEntriesAreReadAsKConfigWritesThem_data();
    void kdeEntriesAreReadAsKConfigWritesThem();
    void trashRecordGoesWithTheFile_data();
    void trashRecordGoesWithTheFile();
    void aTraceIsDestroyedOnlyWhereItsPathLeads();
    void everyTraceGoesThroughTheWindow_data();
    void everyTraceGoesThroughTheWindow();
};

void TestTraces::recentListForgetsOnlyTheFile_data()
{
    QTest::addColumn<QString>("listed"); // the bookmark's href, %F standing for the folder
    QTest::addColumn<QString>("list");   // what the list is: "" for a list of the user's own
    QTest::addColumn<bool>("forgotten");
    QTest::addColumn<QString>("told"); // the start of the line the run shows after the list's path
    QTest::newRow("as GLib escapes it") << "file://%F/photos/a%20b%3B1.png"
                                        << "" << true << "";
    QTest::newRow("as Qt escapes it") << "file://%F/photos/a%20b;1.png"
                                      << "" << true << "";
    QTest::newRow("a doubled slash") << "file://%F/photos//a%20b%3B1.png"
                                     << "" << true << "";
    QTest::newRow("a dot and a dot-dot") << "file://%F/photos/./../photos/a%20b%3B1.png"
                                         << "" << true << "";
    QTest::newRow("through a linked folder") << "file://%F/link/a%20b%3B1.png"
                                             << "" << true << "";
    QTest::newRow("this computer by name") << "file://localhost%F/photos/a%20b%3B1.png"
                                           << "" << true << "";
    QTest::newRow("another computer") << "file://otherhost%F/photos/a%20b%3B1.png"
                                      << "" << false << "";
    QTest::newRow("another file, one escaped byte apart") << "file://%F/photos/a%2520b;1.png"
                                                          << "" << false << "";
    QTest::newRow("replaced meanwhile, same bytes") << "file://%F/photos/a%20b;1.png"
                                                    << "replaced" << true << "";
    QTest::newRow("unreadable") << "file://%F/photos/a%20b;1.png"
                                << "unreadable" << false << " could not be checked: it cannot be read as a list";
    QTest::newRow("a link") << "file://%F/photos/a%20b;1.png"
                            << "link" << false << " could not be checked: a symbolic link stands at its name";
    QTest::newRow("another user's") << "file://%F/photos/a%20b;1.png"
                                    << "another user's" << false << " could not be checked: not a file of your own";
    QTest::newRow("a second name") << "file://%F/photos/a%20b;1.png"
                                   << "hard link" << false << " still names a shredded file: it has other names";
    QTest::newRow("a link put in its place after the read")
        << "file://%F/photos/a%20b;1.png"
        << "link meanwhile" << false << " could not be checked: a symbolic link stands at its name";
    QTest::newRow("a write that fails")
        << "file://%F/photos/a%20b;1.png"
        << "write fails" << false << " still names a shredded file: it could not be replaced: No space left on device";
}

// The shredded file's bookmarks go, under any spelling of its path on this computer, each cut out of
// the text: every other byte stays, and so does another program's change made meanwhile. A list that
// cannot be read, or is not the user's alone, is left as it is and named.
void TestTraces::recentListForgetsOnlyTheFile()
{
    QFETCH(QString, listed);
    QFETCH(QString, list);
    QFETCH(bool, forgotten);
    QFETCH(QString, told);
    const QString data = folder().filePath("data");
    QVERIFY(QDir().mkpath(data) && QDir().mkpath(folder().filePath("photos")));
    QVERIFY(QFile::link(folder().filePath("photos"), folder().filePath("link")));
    const QString file = writeTestFile(folder().filePath("photos/a b;1.png"), "png");
    const QString xbel = data + "/recently-used.xbel";
    const QByteArray mine = gtkBookmark(listed.replace("%F", folder().path()).toUtf8());
    const QByteArray others = plainBookmark(uri(folder().filePath("old.txt")).toUtf8()) +
                              gtkBookmark(uri(folder().filePath("kept.txt")).toUtf8());
    QByteArray written =
        kListStart + others.left(others.indexOf('\n') + 1) + mine + others.mid(others.indexOf('\n') + 1) + kListEnd;
    if (list == "unreadable") {
        written.chop(3);
    }
    const QString elsewhere = folder().filePath("elsewhere.xbel");
    writeTestFile(list == "link" ? elsewhere : xbel, written);
    QVERIFY(list != "link" || QFile::link(elsewhere, xbel));
    QVERIFY(list != "hard link" || ::link(QFile::encodeName(xbel), QFile::encodeName(elsewhere)) == 0);
    if (list == "another user's" && !giveAway(xbel)) {
        QSKIP("needs root to give the list to another user");
    }
    QVERIFY(QFile::setPermissions(xbel, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QFile::Permissions shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    const QFile::Permissions newcomers = list == "replaced" ? QFile::ReadOwner | QFile::WriteOwner : shared;
    bool changed = false;
    ScriptedTraceFiles traceFiles(m_platform->files);
    traceFiles.failure = list == "write fails" ? ENOSPC : 0;
    traceFiles.beforeReplace = [&] {
        // Another program writes the list once, as a new file: a bookmark more, or the same bytes
        // with another mode.
        changed = true;
        if (list != "replaced") {
            written.insert(kListStart.size(), plainBookmark(uri(folder().filePath("meanwhile")).toUtf8()));
        }
        const QString newcomer = writeTestFile(folder().filePath("newcomer.xbel"), written);
        QVERIFY(QFile::setPermissions(newcomer, newcomers));
        QCOMPARE(::rename(QFile::encodeName(newcomer), QFile::encodeName(xbel)), 0);
    };
    if (list == "link meanwhile" || list == "write fails") {
        traceFiles.beforeReplace = nullptr;
    }
    if (list == "link meanwhile") {
        traceFiles.afterOpen = [&] {
            QCOMPARE(::rename(QFile::encodeName(xbel), QFile::encodeName(elsewhere)), 0);
            QVERIFY(QFile::link(elsewhere, xbel));
        };
    }
    const std::vector<std::string> lines =
        ForgetRecentFiles(QFile::encodeName(data).toStdString(), {namesOf(file, data, m_platform->files)}, traceFiles);
    QCOMPARE(QFile::permissions(list == "link" ? elsewhere : xbel) & ~(QFile::ReadUser | QFile::WriteUser),
             changed ? newcomers : shared);
    QCOMPARE(readTestFile(list == "link" ? elsewhere : xbel), forgotten ? written.replace(mine, "") : written);
    QCOMPARE(lines.size(), std::size_t(!told.isEmpty()));
    if (!told.isEmpty()) {
        QVERIFY2(QString::fromStdString(lines[0]).startsWith("The list of recent files " + xbel + told),
                 lines[0].c_str());
    }
}

void TestTraces::kdeEntriesAreReadAsKConfigWritesThem_data()
{
    QTest::addColumn<QByteArray>("entry"); // %F standing for the folder, which is $HOME
    QTest::addColumn<QString>("kind");     // what stands at the entry's name: "" for a file of the user's
    QTest::addColumn<bool>("destroyed");
    const QByteArray start = "[Desktop Entry]\nName=price$.txt\nType=Link\n";
    QTest::newRow("a path entry below the home folder") << start + "URL[$e]=file:$HOME/Docs/price$$.txt\n"
                                                        << "" << true;
    QTest::newRow("a bare path entry") << start + "URL[$e]=$HOME/Docs/price$$.txt\n"
                                       << "" << true;
    QTest::newRow("a URI, no expansion") << start + "URL=file://%F/Docs/price$.txt\n"
                                         << "" << true;
    QTest::newRow("an escaped byte") << start + "URL=file://%F/Docs/price\\x24.txt\n"
                                     << "" << true;
    QTest::newRow("not expanded without [$e]") << start + "URL=file:$HOME/Docs/price$$.txt\n"
                                               << "" << false;
    QTest::newRow("another computer") << start + "URL=file://otherhost%F/Docs/price$.txt\n"
                                      << "" << false;
    QTest::newRow("in another group") << "[Other]\nURL=file://%F/Docs/price$.txt\n" + start +
                                             "URL=file://%F/Docs/kept.txt\n"
                                      << "" << false;
    QTest::newRow("a command's output") << start + "URL[$e]=file:$(touch %F/ran)/Docs/price$$.txt\n"
                                        << "" << false;
    QTest::newRow("a link at its name") << start + "URL=file://%F/Docs/price$.txt\n"
                                        << "link" << false;
    QTest::newRow("another user's") << start + "URL=file://%F/Docs/price$.txt\n"
                                    << "another user's" << false;
}

// A KDE entry is read as KConfig reads it: the URL of its [Desktop Entry] group, escapes undone, and
// for [$e] the environment expanded and "$$" made "$". Only an entry of the user's own for this file on
// this computer goes; no command is ever run.
void TestTraces::kdeEntriesAreReadAsKConfigWritesThem()
{
    QFETCH(QByteArray, entry);
    QFETCH(QString, kind);
    QFETCH(bool, destroyed);
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(folder().path()));
    const QString data = folder().filePath("data");
    QVERIFY(QDir().mkpath(data + "/RecentDocuments") && QDir().mkpath(folder().filePath("Docs")));
    const QString file = writeTestFile(folder().filePath("Docs/price$.txt"), "secret");
    const QString path = data + "/RecentDocuments/price$.txt.desktop";
    entry.replace("%F", QFile::encodeName(folder().path()));
    const QString target = writeTestFile(kind == "link" ? folder().filePath("elsewhere") : path, entry);
    QVERIFY(kind != "link" || QFile::link(target, path));
    if (kind == "another user's" && !giveAway(path)) {
        QSKIP("needs root to give the entry to another user");
    }
    ScriptedTraceFiles traceFiles(m_platform->files);
    const std::vector<std::string> lines = DestroyRecentDocuments(
        QFile::encodeName(data).toStdString(), {namesOf(file, data, m_platform->files)}, traceFiles);
    qputenv("HOME", home);
    QCOMPARE(QFileInfo::exists(path), !destroyed);
    QCOMPARE(contentBeforeDelete(path).count('\0'), destroyed ? 5000 : 0);
    QCOMPARE(readTestFile(target), destroyed ? QByteArray("<unreadable>") : entry);
    QVERIFY(!QFile::exists(folder().filePath("ran")));
    QCOMPARE(lines.size(), std::size_t{0});
}

void TestTraces::trashRecordGoesWithTheFile_data()
{
    QTest::addColumn<QString>("trash"); // below the test's folder; "data/Trash" is the user's own, %U the user
    QTest::addColumn<QString>("odd");   // what is odd about it, if anything
    QTest::addColumn<bool>("destroyed");
    QTest::addColumn<QString>("told"); // the end of the line the run shows, if any
    QTest::newRow("the user's trash") << "data/Trash"
                                      << "" << true << "";
    QTest::newRow("a disk's trash of the user's") << ".Trash-%U"
                                                  << "" << true << "";
    QTest::newRow("a disk's trash of another user's") << ".Trash-%U"
                                                      << "trash" << false << "";
    QTest::newRow("a disk's shared trash") << ".Trash/%U"
                                           << "sticky" << true << "";
    QTest::newRow("a shared trash without the sticky bit") << ".Trash/%U"
                                                           << "" << false << "";
    QTest::newRow("a shared trash through a link") << ".Trash/%U"
                                                   << "linked sticky" << false << "";
    QTest::newRow("a folder that is no trash") << "bin"
                                               << "" << false << "";
    QTest::newRow("a link at the record's name")
        << "data/Trash"
        << "record link" << false
        << ": a symbolic link stands at its name; neither it nor what it points to was touched";
    QTest::newRow("info/, another user's link")
        << "data/Trash"
        << "info link" << false << "/info: not a folder of your own; it was not touched";
    QTest::newRow("directorysizes, another user's")
        << "data/Trash"
        << "sizes" << true << "/directorysizes: not a file of your own; it was not touched";
}

// The record of a file shredded in a trash is destroyed with it in the trash it lay in, and its line in
// directorysizes goes. A trash the rules do not allow, a record of another name, and what a link that
// is not the user's own leads to stay.
void TestTraces::trashRecordGoesWithTheFile()
{
    QFETCH(QString, trash);
    QFETCH(QString, odd);
    QFETCH(bool, destroyed);
    QFETCH(QString, told);
    trash.replace("%U", QString::number(::geteuid()));
    const QString root = folder().filePath(trash);
    if (odd.startsWith("linked")) {
        QVERIFY(QDir().mkpath(folder().filePath("real")) &&
                QFile::link(folder().filePath("real"), folder().filePath(".Trash")));
    }
    QVERIFY(QDir().mkpath(root + "/files") && QDir().mkpath(folder().filePath("data")) &&
            QDir().mkpath(folder().filePath("precious")));
    if (odd.endsWith("sticky")) {
        QCOMPARE(::chmod(QFile::encodeName(QFileInfo(root).path()), 01777), 0);
    }
    const QString precious = writeTestFile(folder().filePath("precious/a b.trashinfo"), "Path=/elsewhere\n");
    const QString info = root + "/info/a b.trashinfo";
    if (odd == "info link") {
        QVERIFY(QFile::link(folder().filePath("precious"), root + "/info"));
        if (!giveAway(root + "/info")) {
            QSKIP("needs root to give the link to another user");
        }
    } else {
        QVERIFY(QDir().mkpath(root + "/info"));
        if (odd == "record link") {
            QVERIFY(QFile::link(precious, info));
        } else {
            writeTestFile(info, "[Trash Info]\nPath=/home/a%20b\nDeletionDate=2026-12-01T10:00:00\n");
        }
    }
    const QString another = writeTestFile(root + "/info/a.trashinfo", "[Trash Info]\nPath=/home/a\n");
    const QByteArray sizes = "10 1 a%20b\n20 2 a\n";
    writeTestFile(root + "/directorysizes", sizes);
    if (odd == "sizes" && !giveAway(root + "/directorysizes")) {
        QSKIP("needs root to give directorysizes to another user");
    }
    const QString file = writeTestFile(root + "/files/a b", "secret");
    if (odd == "trash" && !giveAway(root)) {
        QSKIP("needs root to give the trash to another user");
    }
    ScriptedTraceFiles traceFiles(m_platform->files);
    const std::vector<std::string> lines =
        DestroyTrashRecords({namesOf(file, folder().filePath("data"), m_platform->files)}, traceFiles);
    QCOMPARE(QFileInfo::exists(info), !destroyed);
    QCOMPARE(contentBeforeDelete(info).count('\0'), destroyed ? 5000 : 0);
    QCOMPARE(readTestFile(root + "/directorysizes"), destroyed && odd != "sizes" ? "20 2 a\n" : sizes);
    QVERIFY(QFile::exists(another));
    QCOMPARE(readTestFile(precious), "Path=/elsewhere\n");
    QCOMPARE(lines.size(), std::size_t(!told.isEmpty()));
    if (!told.isEmpty()) {
        QVERIFY2(QString::fromStdString(lines[0]).endsWith(told), lines[0].c_str());
    }
}

// A trace file is destroyed only while the path the engine takes to it leads to the very file found in
// its folder: never another file at that path.
void TestTraces::aTraceIsDestroyedOnlyWhereItsPathLeads()
{
    QVERIFY(QDir().mkpath(folder().filePath("found")) && QDir().mkpath(folder().filePath("other")));
    const QString found = writeTestFile(folder().filePath("found/t.png"), "picture");
    const QString other = writeTestFile(folder().filePath("other/t.png"), "another picture");
    const FileDescriptor foundFolder(::open(QFile::encodeName(folder().filePath("found")), O_PATH | O_DIRECTORY));
    ScriptedTraceFiles traceFiles(m_platform->files);
    QCOMPARE(traceFiles.destroy(foundFolder.get(), "t.png", QFile::encodeName(other).toStdString()), std::string());
    QCOMPARE(readTestFile(found), "picture");
    QCOMPARE(readTestFile(other), "another picture");
}

void TestTraces::everyTraceGoesThroughTheWindow_data()
{
    QTest::addColumn<bool>("batch");
    QTest::addColumn<QString>("trashed"); // what was put in the trash, below Docs: the file, or its folder
    QTest::newRow("single, the file") << false << "photo.png";
    QTest::newRow("batch, its folder") << true << "album";
}

// A file looked at, put in the trash by GLib's own tool and shredded from there takes with it its
// record (a file's, not its trashed folder's) and what the desktop made of it under the path it had
// before: thumbnails, its GTK bookmark and its KDE entry. Another file's stay.
void TestTraces::everyTraceGoesThroughTheWindow()
{
    QFETCH(bool, batch);
    QFETCH(QString, trashed);
    const QString data = folder().filePath("data");
    const QString cache = folder().filePath("cache");
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(folder().path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    QVERIFY(QDir().mkpath(data + "/RecentDocuments"));
    const QString before = folder().filePath(trashed == "album" ? "Docs/album/photo.png" : "Docs/photo.png");
    QVERIFY(QDir().mkpath(QFileInfo(before).path()));
    writeTestFile(before, "secret");
    QStringList thumbnails;
    for (const char* size : {"normal", "large"}) {
        thumbnails << thumbnailOf(cache, size, before);
        QVERIFY(QDir().mkpath(QFileInfo(thumbnails.last()).path()));
        QImage picture(16, 16, QImage::Format_RGB32);
        picture.setText("Thumb::URI", uri(before));
        QVERIFY(picture.save(thumbnails.last(), "PNG"));
    }
    const QByteArray kept = gtkBookmark(uri(folder().filePath("kept.txt")).toUtf8());
    writeTestFile(data + "/recently-used.xbel", kListStart + gtkBookmark(uri(before).toUtf8()) + kept + kListEnd);
    const QString entry = writeTestFile(data + "/RecentDocuments/photo.png.desktop",
                                        "[Desktop Entry]\nType=Link\nURL[$e]=file:$HOME" +
                                            QFile::encodeName(before.mid(folder().path().size())) + "\n");
    QProcess gio;
    gio.start("gio", {"trash", folder().filePath("Docs/" + trashed)});
    QVERIFY2(gio.waitForFinished() && gio.exitCode() == 0, gio.readAllStandardError().constData());
    const QString file = data + "/Trash/files/" + (trashed == "album" ? "album/photo.png" : "photo.png");
    const QString record = data + "/Trash/info/" + trashed + ".trashinfo";
    QVERIFY(QFile::exists(file) && QFile::exists(record));

    const bool shredded = shredThrough(batch, file);
    qputenv("HOME", home);
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CACHE_HOME");
    QVERIFY2(shredded, qPrintable(messages().join('\n')));
    for (const QString& thumbnail : thumbnails) {
        QVERIFY2(!QFile::exists(thumbnail), qPrintable(thumbnail));
    }
    QVERIFY(!QFile::exists(file) && !QFile::exists(entry));
    QCOMPARE(QFile::exists(record), trashed == "album");
    QCOMPARE(readTestFile(data + "/recently-used.xbel"), kListStart + kept + kListEnd);
    QCOMPARE(messages().size(), 2); // the question and the report: nothing was left
}

QTEST_MAIN(TestTraces)
#include "TestTraces.moc"
