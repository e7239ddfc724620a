// The count captions' wording for every count.

#include "filelist/CountCaption.h"

#include <QTest>

class TestCountCaption : public QObject
{
    Q_OBJECT

private slots:
    void captions_data();
    void captions();
};

void TestCountCaption::captions_data()
{
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("caption");

    QTest::newRow("zero takes the singular") << qint64(0) << " selected"
                                             << "0 file selected";
    QTest::newRow("one") << qint64(1) << " displayed"
                         << "1 file displayed";
    QTest::newRow("plural from two") << qint64(2) << " displayed"
                                     << "2 files displayed";
    QTest::newRow("seventeen") << qint64(17) << " selected"
                               << "17 files selected";
    QTest::newRow("full list") << qint64(255) << " selected"
                               << "255 files selected";
    QTest::newRow("closing message") << qint64(3) << " shredded !"
                                     << "3 files shredded !";
    QTest::newRow("one shredded") << qint64(1) << " shredded !"
                                  << "1 file shredded !";
    QTest::newRow("no group separators") << qint64(12345) << " displayed"
                                         << "12345 files displayed";
}

void TestCountCaption::captions()
{
    QFETCH(qint64, count);
    QFETCH(QString, suffix);
    QFETCH(QString, caption);
    QCOMPARE(CountCaption(count, suffix), caption);
}

QTEST_APPLESS_MAIN(TestCountCaption)
#include "TestCountCaption.moc"
