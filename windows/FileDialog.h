#pragma once

// The open-file dialog seam: the real dialog, or a scripted one in tests.

#include <QString>

#include <memory>

class QFileDialog;
class QWidget;

// The open-file dialog of the main window. It keeps its title and the file name last chosen in it, as
// the program reads and sets them; show() is the only part that differs between the real dialog and
// the scripted one of the tests.
class FileDialog
{
public:
    virtual ~FileDialog() = default;

    QString title() const;
    void setTitle(const QString& title);

    QString fileName() const;
    void setFileName(const QString& fileName);

    // Shows the dialog modally. Returns true after a pick, when fileName() is the picked file's full
    // path; after a cancel it is unchanged.
    virtual bool show(QWidget* parent) = 0;

private:
    QString m_title;
    QString m_fileName;
};

// The real dialog: Qt's open-file dialog for any existing file, with no filter.
class QtFileDialog : public FileDialog
{
public:
    bool show(QWidget* parent) override;

    // The dialog exactly as show() presents it, not yet shown.
    std::unique_ptr<QFileDialog> build(QWidget* parent) const;
};
