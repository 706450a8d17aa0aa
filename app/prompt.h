#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// Every modal question the main window asks goes through this object, so that
// tests can answer them without a person. The default implementation makes the
// plain Qt calls.
class Prompt
{
public:
    virtual ~Prompt();

    virtual QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);
    virtual QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);
    // Returns the text; *ok is false when the dialog was cancelled.
    virtual QString getText(QWidget *parent, const QString &title, const QString &label,
                            const QString &text, bool *ok);
    virtual QMessageBox::StandardButton question(QWidget *parent, const QString &title,
                                                 const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton);
    virtual void information(QWidget *parent, const QString &text);
    virtual void warning(QWidget *parent, const QString &text);
    virtual void critical(QWidget *parent, const QString &text);
    // Runs a dialog modally and returns its result code.
    virtual int exec(QDialog &dialog);
};
