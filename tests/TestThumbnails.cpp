// The desktop's pictures of a shredded file go with it: the names file managers give them, and their
// destruction through the real window.

#include "shred/Md5.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowTestCase.h"
#include "traces/Thumbnails.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// A small picture that says which file it shows, as a thumbnailer writes it.
void writeThumbnail(const QString& path, const std::string& shows)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.setText("Thumb::URI", QString::fromStdString(shows));
    QVERIFY(picture.save(path, "PNG"));
}

QString thumbnailAt(const QString& folder, const std::string& uri)
{
    return folder + "/" + QString::fromStdString(ThumbnailName(uri));
}
} // namespace

class TestThumbnails : public WindowTestCase
{
    Q_OBJECT

private slots:
    void namesAreTheFileManagersOwn_data();
    void namesAreTheFileManagersOwn();
    void thumbnailsAreDestroyedWithTheFile_data();
    void thumbnailsAreDestroyedWithTheFile();
    void linksOnTheWayAreNotFollowed_data();
    void linksOnTheWayAreNotFollowed();
};

void TestThumbnails::namesAreTheFileManagersOwn_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("uri");
    QTest::newRow("plain") << QByteArray("/home/jens/photos/me.png") << QByteArray("file:///home/jens/photos/me.png");
    QTest::newRow("space") << QByteArray("/tmp/a b.png") << QByteArray("file:///tmp/a%20b.png");
    QTest::newRow("not ASCII") << QByteArray("/tmp/\xc3\xa9t\xc3\xa9.png")
                               << QByteArray("file:///tmp/%C3%A9t%C3%A9.png");
    QTest::newRow("semicolon, brackets") << QByteArray("/tmp/a;b[1].png") << QByteArray("file:///tmp/a%3Bb%5B1%5D.png");
    QTest::newRow("hash") << QByteArray("/tmp/#1.png") << QByteArray("file:///tmp/%231.png");
    QTest::newRow("percent") << QByteArray("/tmp/100%.png") << QByteArray("file:///tmp/100%25.png");
    QTest::newRow("not UTF-8") << QByteArray("/tmp/a\xff.png") << QByteArray("file:///tmp/a%FF.png");
}

void TestThumbnails::namesAreTheFileManagersOwn()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, uri);
    QCOMPARE(QByteArray::fromStdString(ThumbnailUri(path.toStdString())), uri);
    // The standard's own example.
    QCOMPARE(ThumbnailName("file:///home/jens/photos/me.png"), std::string("c6ee772d9e49320e97ec29a7eb5b1697.png"));
    if (QString::fromUtf8(path).toUtf8() == path) {
        QCOMPARE(QByteArray::fromStdString(QtThumbnailUri(path.toStdString())),
                 QUrl::fromLocalFile(QString::fromUtf8(path)).toEncoded());
    }
}

void TestThumbnails::thumbnailsAreDestroyedWithTheFile_data()
{
    QTest::addColumn<bool>("batch");
    QTest::addColumn<QString>("spelled"); // the path chosen, %F standing for the folder
    QTest::newRow("single") << false << "%F/shot;1.jpg";
    QTest::newRow("batch") << true << "%F/shot;1.jpg";
    QTest::newRow("single, a doubled slash") << false << "%F//shot;1.jpg";
    QTest::newRow("batch, through a linked folder") << true << "%F/linked/shot;1.jpg";
}

// Thumbnails in the cache under both names of the file's real path, whatever spelling of it was chosen,
// in a failure folder and in the folder's shared repository are destroyed; a thumbnail of another file, and a link at a
// thumbnail's name with what it points to, stay, and the link is reported.
void TestThumbnails::thumbnailsAreDestroyedWithTheFile()
{
    QFETCH(bool, batch);
    QFETCH(QString, spelled);
    QTemporaryDir folder;
    QVERIFY(QFile::link(folder.path(), folder.filePath("linked")));
    const QString cache = folder.filePath("cache/thumbnails");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(folder.filePath("cache")));
    const QString photo = writeTestFile(folder.filePath("shot;1.jpg"), QByteArray(6000, 'p'));
    const std::string path = QFile::encodeName(photo).toStdString();
    const std::string uri = ThumbnailUri(path);
    const std::string qtUri = QtThumbnailUri(path);
    const std::string sharedUri = SharedThumbnailUri("shot;1.jpg");

    const QStringList destroyed = {thumbnailAt(cache + "/normal", uri),
                                   thumbnailAt(cache + "/xx-large", qtUri),
                                   thumbnailAt(cache + "/fail/gnome-thumbnail-factory", uri),
                                   thumbnailAt(folder.filePath(".sh_thumbnails/large"), sharedUri)};
    for (const QString& thumbnail : destroyed) {
        writeThumbnail(thumbnail, thumbnail.contains(".sh_") ? sharedUri : uri);
    }
    const QString another = thumbnailAt(cache + "/large", uri);
    writeThumbnail(another, "file:///elsewhere/other.jpg");
    const QString precious = writeTestFile(folder.filePath("precious"), QByteArray(100, 'k'));
    const QString link = thumbnailAt(cache + "/x-large", uri);
    QVERIFY(QDir().mkpath(cache + "/x-large") && QFile::link(precious, link));

    const QString chosen = spelled.replace("%F", folder.path());
    QVERIFY2(shredThrough(batch, chosen), qPrintable(messages().join('\n')));
    for (const QString& thumbnail : destroyed) {
        QVERIFY2(!QFile::exists(thumbnail), qPrintable(thumbnail));
        const QByteArray overwritten = contentBeforeDelete(thumbnail);
        QVERIFY2(!overwritten.isEmpty() && overwritten.count('\0') == overwritten.size(), qPrintable(thumbnail));
    }
    QVERIFY(m_platform->files.flushes >= 1 + destroyed.size()); // the file's, then each thumbnail's
    QVERIFY(QFile::exists(another));
    QCOMPARE(QFileInfo(link).symLinkTarget(), precious);
    QCOMPARE(readTestFile(precious), QByteArray(100, 'k'));
    QCOMPARE(messages().last(),
             "Warning!: A thumbnail of " + chosen + " was not destroyed: " + link +
                 ": a symbolic link stands at its name; neither it nor what it points to was touched");
}

// A link anywhere on the way to a thumbnail is not followed: what it leads to stays, and a thumbnail
// of the file seen behind it is named. A relative cache folder is ignored for the default one.
void TestThumbnails::linksOnTheWayAreNotFollowed_data()
{
    QTest::addColumn<QString>("link");      // where a link to "elsewhere" stands, or empty
    QTest::addColumn<QString>("cacheHome"); // XDG_CACHE_HOME; HOME is the test's folder
    QTest::addColumn<QString>("thumbnail"); // where the file's thumbnail lies
    QTest::addColumn<QString>("told");
    QTest::newRow("the shared repository") << ".sh_thumbnails"
                                           << "cache"
                                           << "elsewhere/normal/%S"
                                           << "%F/.sh_thumbnails/normal/%S: reached through the symbolic link "
                                              "%F/.sh_thumbnails, which was not followed; it was not touched";
    QTest::newRow("a size's folder") << "cache/thumbnails/normal"
                                     << "cache"
                                     << "elsewhere/%U"
                                     << "%F/cache/thumbnails/normal/%U: reached through the symbolic link "
                                        "%F/cache/thumbnails/normal, which was not followed; it was not touched";
    QTest::newRow("a FIFO at its name") << ""
                                        << "cache"
                                        << "cache/thumbnails/normal/%U"
                                        << "%F/cache/thumbnails/normal/%U: not a regular file (a FIFO); it was not "
                                           "touched";
    QTest::newRow("another user's") << ""
                                    << "cache"
                                    << "cache/thumbnails/normal/%U"
                                    << "%F/cache/thumbnails/normal/%U: not a file of your own; it was not touched";
    QTest::newRow("a relative cache folder") << ""
                                             << "relative"
                                             << ".cache/thumbnails/large/%U"
                                             << "";
}

void TestThumbnails::linksOnTheWayAreNotFollowed()
{
    QFETCH(QString, link);
    QFETCH(QString, cacheHome);
    QFETCH(QString, thumbnail);
    QFETCH(QString, told);
    QTemporaryDir folder;
    qputenv("HOME", QFile::encodeName(folder.path()));
    qputenv("XDG_CACHE_HOME",
            cacheHome == "relative" ? QByteArray("relative") : QFile::encodeName(folder.filePath(cacheHome)));
    const QString photo = writeTestFile(folder.filePath("photo.jpg"), QByteArray(6000, 'p'));
    const std::string path = QFile::encodeName(photo).toStdString();
    const auto expand = [&](QString text) {
        return text.replace("%S", QString::fromStdString(ThumbnailName(SharedThumbnailUri("photo.jpg"))))
            .replace("%U", QString::fromStdString(ThumbnailName(ThumbnailUri(path))))
            .replace("%F", folder.path());
    };
    const QString picture = folder.filePath(expand(thumbnail));
    QVERIFY(QDir().mkpath(QFileInfo(picture).path()));
    if (told.contains("FIFO")) {
        QCOMPARE(::mkfifo(QFile::encodeName(picture).constData(), 0600), 0);
    } else {
        writeTestFile(picture, "no picture, but its name"); // says nothing of what it shows
    }
    if (told.contains("your own") && (::geteuid() != 0 || ::chown(QFile::encodeName(picture), 65534, 65534) != 0)) {
        QSKIP("needs root to give the thumbnail to another user");
    }
    QVERIFY(link.isEmpty() || (QDir().mkpath(QFileInfo(folder.filePath(link)).path()) &&
                               QFile::link(folder.filePath("elsewhere"), folder.filePath(link))));

    QCOMPARE(shredSingle(photo), told.isEmpty());
    QCOMPARE(QFileInfo::exists(picture), !told.isEmpty());
    if (!told.isEmpty()) {
        QCOMPARE(messages().last(), "Warning!: A thumbnail of " + photo + " was not destroyed: " + expand(told));
    }
}

QTEST_MAIN(TestThumbnails)
#include "TestThumbnails.moc"
