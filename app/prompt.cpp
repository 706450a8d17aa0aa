#include "prompt.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>

Prompt::~Prompt() = default;

QString Prompt::getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString Prompt::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString Prompt::getText(QWidget *parent, const QString &title, const QString &label,
                        const QString &text, bool *ok)
{
    return QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, ok);
}

QMessageBox::StandardButton Prompt::question(QWidget *parent, const QString &title,
                                             const QString &text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

void Prompt::information(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, QString(), text, QMessageBox::Ok, QMessageBox::NoButton);
}

void Prompt::warning(QWidget *parent, const QString &text)
{
    QMessageBox::warning(parent, QString(), text, QMessageBox::Ok);
}

void Prompt::critical(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QString(), text, QMessageBox::Ok);
}

int Prompt::exec(QDialog &dialog)
{
    return dialog.exec();
}
