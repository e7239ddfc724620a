#include "tests/support/ShredderWindow.h"

#include "filelist/NativePaths.h"
#include "tests/support/DropHelper.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

ShredderWindow::ShredderWindow(const QString& name)
    : m_guard(("zorvik-test-" + name + "-" + QString::number(QCoreApplication::applicationPid())).toStdString())
    , m_window(m_platform.platform())
{
    m_window.load(m_guard);
    m_window.showCentred();
    m_platform.files.beforeDelete = [this](const NativePath& native) {
        const QString path = NativePaths::shown(native);
        QFile file(path);
        contentBeforeDelete[path] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    };
}

void ShredderWindow::press(const char* name)
{
    if (auto* button = m_window.findChild<QAbstractButton*>(name)) {
        button->click();
    } else {
        QTest::qFail(qPrintable(QStringLiteral("Button doesn't exist: %1").arg(name)), __FILE__, __LINE__);
    }
}

bool ShredderWindow::shredSingle(const QString& path)
{
    m_platform.fileDialog.setNextFileName(path);
    press("Command1");
    const qsizetype before = m_platform.messages.shown().size();
    m_platform.messages.setNextAnswer(MessageBox::Answer::Yes);
    press("Command2");
    const auto shown = m_platform.messages.shown();
    return shown.size() > before && shown.last().text == "The file has been shredded !";
}

int ShredderWindow::drop(const QStringList& paths)
{
    int accepted = 0;
    for (const QString& path : paths) {
        accepted += dropFiles(m_window.findChild<QListWidget*>("List1"), {QUrl::fromLocalFile(path)});
    }
    return accepted;
}

bool ShredderWindow::dropBytes(const QByteArray& path)
{
    return dropFiles(m_window.findChild<QListWidget*>("List1"),
                     {QUrl::fromEncoded("file://" + path.toPercentEncoding("/"))});
}

QString ShredderWindow::shredAllListed()
{
    press("Option1");
    m_platform.messages.setNextAnswer(MessageBox::Answer::Yes);
    press("Command3");
    const auto shown = m_platform.messages.shown();
    for (auto message = shown.rbegin(); message != shown.rend(); ++message) {
        if (message->title == "Mission Accomplished !") {
            return message->text;
        }
    }
    return {};
}

QString ShredderWindow::text(const char* objectName) const
{
    QObject* object = m_window.findChild<QObject*>(objectName);
    if (auto* label = qobject_cast<QLabel*>(object)) {
        return label->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(object)) {
        return edit->text();
    }
    return "<no text control " + QString(objectName) + ">";
}

QStringList ShredderWindow::listed() const
{
    QStringList texts;
    auto* list = m_window.findChild<QListWidget*>("List1");
    for (int i = 0; i < list->count(); ++i) {
        texts << list->item(i)->text();
    }
    return texts;
}

QStringList ShredderWindow::messages() const
{
    QStringList lines;
    for (const MessageBox::Message& message : m_platform.messages.shown()) {
        lines << message.title + ": " + message.text;
    }
    return lines;
}

bool ShredderWindow::claimedShredded() const
{
    for (const MessageBox::Message& message : m_platform.messages.shown()) {
        if (message.title == "Mission Accomplished !" && !message.text.startsWith("0 file")) {
            return true;
        }
    }
    return false;
}
