// What the desktop remembers of a shredded file, besides its thumbnails: the recent-files lists of
// GTK and KDE programs and the trash's record. One table per trace, and the window's two runs.

#include "shred/FillBlock.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowTestCase.h"
#include "traces/RecentFiles.h"
#include "traces/TrashRecord.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <glib.h>
#include <sys/stat.h>

namespace {
// The list as GLib writes it; the list is freed.
QByteArray serialized(GBookmarkFile* list)
{
    gsize length = 0;
    char* text = g_bookmark_file_to_data(list, &length, nullptr);
    const QByteArray data(text, static_cast<qsizetype>(length));
    g_free(text);
    g_bookmark_file_free(list);
    return data;
}

// A recent-files list of bookmarks of `paths` (given as URIs as they are written), each with its
// fields as a GTK program sets them.
QByteArray bookmarks(const QStringList& uris)
{
    GBookmarkFile* list = g_bookmark_file_new();
    for (const QString& uri : uris) {
        const QByteArray href = uri.toUtf8();
        g_bookmark_file_set_mime_type(list, href, "text/plain");
        g_bookmark_file_add_application(list, href, "viewer", "viewer %u");
        g_bookmark_file_add_group(list, href, "Viewer");
    }
    return serialized(list);
}

// The list as GLib writes it once the bookmark of `uri` is removed.
QByteArray without(const QByteArray& list, const QString& uri)
{
    GBookmarkFile* bookmarks = g_bookmark_file_new();
    g_bookmark_file_load_from_data(bookmarks, list.constData(), static_cast<gsize>(list.size()), nullptr);
    g_bookmark_file_remove_item(bookmarks, uri.toUtf8(), nullptr);
    return serialized(bookmarks);
}

QString uri(const QString& path)
{
    return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
}
} // namespace

class TestTraces : public WindowTestCase
{
    Q_OBJECT

private slots:
    void recentListForgetsOnlyTheFile_data();
    void recentListForgetsOnlyTheFile();
    void trashRecordGoesWithTheFile_data();
    void trashRecordGoesWithTheFile();
    void everyTraceGoesThroughTheWindow_data();
    void everyTraceGoesThroughTheWindow();
};

void TestTraces::recentListForgetsOnlyTheFile_data()
{
    QTest::addColumn<QString>("listed"); // the bookmark's URI, %F standing for the folder
    QTest::addColumn<bool>("forgotten");
    QTest::addColumn<QByteArray>("list"); // the whole list, when it is not one of bookmarks
    QTest::newRow("the file, as GLib escapes it") << "file://%F/a%20b%3B1" << true << QByteArray();
    QTest::newRow("the file, as Qt escapes it") << "file://%F/a%20b;1" << true << QByteArray();
    QTest::newRow("another file, one escaped byte apart") << "file://%F/a%2520b;1" << false << QByteArray();
    QTest::newRow("unreadable list") << "" << false << QByteArray("<xbel version=\"1.0\"><bookmark");
}

// The shredded file's bookmark goes; another program's change made meanwhile stays, and so does every
// field of every other bookmark. A list that cannot be read is left as it is and named.
void TestTraces::recentListForgetsOnlyTheFile()
{
    QFETCH(QString, listed);
    QFETCH(bool, forgotten);
    QFETCH(QByteArray, list);
    const QString data = folder().filePath("data");
    QVERIFY(QDir().mkpath(data));
    const QString xbel = data + "/recently-used.xbel";
    const QString other = uri(folder().filePath("kept.txt"));
    listed.replace("%F", folder().path());
    QByteArray written = list.isEmpty() ? bookmarks({listed, other}) : list;
    writeTestFile(xbel, written);
    QVERIFY(QFile::setPermissions(xbel, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const std::vector<std::string> lines = ForgetRecentFiles(
        QFile::encodeName(data).toStdString(), {QFile::encodeName(folder().filePath("a b;1")).toStdString()}, [&] {
            if (!written.contains("meanwhile")) { // another program opens a file once
                writeTestFile(xbel, written = bookmarks({listed, other, uri(folder().filePath("meanwhile"))}));
            }
        });
    if (!list.isEmpty()) {
        QCOMPARE(readTestFile(xbel), list);
        QCOMPARE(lines.size(), std::size_t{1});
        QVERIFY(QString::fromStdString(lines[0]).startsWith("The list of recent files " + xbel + " could not be read"));
        return;
    }
    QVERIFY(lines.empty());
    QCOMPARE(readTestFile(xbel), forgotten ? without(written, listed) : written);
    QCOMPARE(QFile::permissions(xbel) & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
}

void TestTraces::trashRecordGoesWithTheFile_data()
{
    QTest::addColumn<QString>("trash");  // below the test's folder; "data/Trash" is the user's own
    QTest::addColumn<QString>("record"); // what stands at the record's name: "file" or "link"
    QTest::addColumn<bool>("destroyed");
    QTest::newRow("the user's trash") << "data/Trash"
                                      << "file" << true;
    QTest::newRow("a disk's trash") << ".Trash-" + QString::number(::geteuid()) << "file" << true;
    QTest::newRow("a folder that is no trash") << "bin"
                                               << "file" << false;
    QTest::newRow("a link at the record's name") << "data/Trash"
                                                 << "link" << false;
}

// The record of a file shredded in a trash is destroyed with it, and its line in directorysizes goes;
// a record of another name, one in no trash, and a link at the record's name stay.
void TestTraces::trashRecordGoesWithTheFile()
{
    QFETCH(QString, trash);
    QFETCH(QString, record);
    QFETCH(bool, destroyed);
    const QString root = folder().filePath(trash);
    QVERIFY(QDir().mkpath(root + "/info") && QDir().mkpath(root + "/files"));
    const QString info = root + "/info/a b.trashinfo";
    const QString precious = writeTestFile(folder().filePath("precious"), "[Trash Info]\nPath=/elsewhere\n");
    if (record == "link") {
        QVERIFY(QFile::link(precious, info));
    } else {
        writeTestFile(info, "[Trash Info]\nPath=/home/a%20b\nDeletionDate=2026-12-01T10:00:00\n");
    }
    const QString another = writeTestFile(root + "/info/a.trashinfo", "[Trash Info]\nPath=/home/a\n");
    writeTestFile(root + "/directorysizes", "10 1 a%20b\n20 2 a\n");
    const std::vector<std::string> lines =
        DestroyTrashRecords(QFile::encodeName(folder().filePath("data")).toStdString(),
                            {QFile::encodeName(root + "/files/a b").toStdString()},
                            BuildFillBlock(kStandardMode),
                            m_platform->files);
    QCOMPARE(QFileInfo::exists(info), !destroyed);
    QCOMPARE(contentBeforeDelete(info).count('\0'), destroyed ? 5000 : 0);
    QCOMPARE(readTestFile(root + "/directorysizes"), destroyed ? "20 2 a\n" : "10 1 a%20b\n20 2 a\n");
    QVERIFY(QFile::exists(another));
    QCOMPARE(readTestFile(precious), "[Trash Info]\nPath=/elsewhere\n");
    QCOMPARE(lines.size(), std::size_t(record == "link"));
}

void TestTraces::everyTraceGoesThroughTheWindow_data()
{
    QTest::addColumn<bool>("batch");
    QTest::newRow("single") << false;
    QTest::newRow("batch") << true;
}

// A file shredded from the trash takes its record, its GTK bookmark and its KDE entry with it; the
// entries of another file stay.
void TestTraces::everyTraceGoesThroughTheWindow()
{
    QFETCH(bool, batch);
    const QString data = folder().filePath("data");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    QVERIFY(QDir().mkpath(data + "/Trash/files") && QDir().mkpath(data + "/Trash/info") &&
            QDir().mkpath(data + "/RecentDocuments"));
    const QString file = writeTestFile(data + "/Trash/files/diary.txt", "secret");
    const QString record = writeTestFile(data + "/Trash/info/diary.txt.trashinfo", "Path=/home/diary.txt\n");
    const QString other = uri(folder().filePath("kept.txt"));
    const QByteArray list = bookmarks({uri(file), other});
    writeTestFile(data + "/recently-used.xbel", list);
    const QString entry = writeTestFile(data + "/RecentDocuments/diary.txt.desktop",
                                        "[Desktop Entry]\nURL[$e]=" + uri(file).toUtf8() + "\n");
    const QString kept =
        writeTestFile(data + "/RecentDocuments/kept.txt.desktop", "[Desktop Entry]\nURL=" + other.toUtf8() + "\n");
    QVERIFY2(shredThrough(batch, file), qPrintable(messages().join('\n')));
    qunsetenv("XDG_DATA_HOME");
    QVERIFY(!QFile::exists(file) && !QFile::exists(record) && !QFile::exists(entry));
    QCOMPARE(readTestFile(data + "/recently-used.xbel"), without(list, uri(file)));
    QVERIFY(QFile::exists(kept));
    QCOMPARE(messages().size(), 2); // the question and the report: nothing was left
}

QTEST_MAIN(TestTraces)
#include "TestTraces.moc"
