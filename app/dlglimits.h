#pragma once

#include "judge.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

// Asks for an optional lower and an optional upper limit (an empty field is
// no limit), in dBm or in dB of loss. The dialog only collects the texts;
// read() says whether they make limits, so that the caller can tell the
// person what is wrong and ask again.
class DlgLimits : public QDialog
{
    Q_OBJECT
public:
    enum Mode
    {
        PowerDBm,
        LossDB
    };
    DlgLimits(Mode mode, const analysis::Limits &current, QWidget *parent = nullptr);

    Mode mode() const { return m_mode; }
    // The limits typed; false with a message for people when a text is no
    // number or the lower limit lies above the upper one.
    bool read(analysis::Limits *limits, QString *problem) const;

private:
    Mode m_mode;
    QLabel *m_explanation;
    QLineEdit *m_lower;
    QLineEdit *m_upper;
    QDialogButtonBox *m_buttons;
};
