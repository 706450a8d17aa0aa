#include "dlglimits.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

DlgLimits::DlgLimits(Mode mode, const analysis::Limits &current, QWidget *parent)
    : QDialog(parent), m_mode(mode)
{
    setObjectName(QStringLiteral("DlgLimits"));
    setWindowTitle(tr("Limits"));
    auto *layout = new QVBoxLayout(this);
    m_explanation = new QLabel(this);
    m_explanation->setObjectName(QStringLiteral("lblLimitsUnit"));
    m_explanation->setWordWrap(true);
    m_explanation->setText(
        mode == LossDB
            ? tr("Limits of the loss in dB, for readings at a wavelength with a reference. "
                 "Leave a field empty for no limit; both limits are inclusive.")
            : tr("Limits of the power in dBm, for readings at a wavelength without a "
                 "reference. Leave a field empty for no limit; both limits are inclusive."));
    layout->addWidget(m_explanation);

    auto *form = new QFormLayout;
    const QString unit = mode == LossDB ? tr("dB") : tr("dBm");
    auto field = [&](const char *name, const std::optional<double> &value) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setPlaceholderText(tr("no limit"));
        if (value)
            edit->setText(QString::number(*value, 'g', 12));
        return edit;
    };
    m_lower = field("leLowerLimit", current.lower);
    m_upper = field("leUpperLimit", current.upper);
    form->addRow(tr("Lower limit (%1):").arg(unit), m_lower);
    form->addRow(tr("Upper limit (%1):").arg(unit), m_upper);
    layout->addLayout(form);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool DlgLimits::read(analysis::Limits *limits, QString *problem) const
{
    const QString unit = m_mode == LossDB ? QStringLiteral("dB") : QStringLiteral("dBm");
    analysis::Limits typed;
    const struct
    {
        QLineEdit *edit;
        std::optional<double> *value;
        QString name;
    } fields[] = {{m_lower, &typed.lower, tr("lower limit")},
                  {m_upper, &typed.upper, tr("upper limit")}};
    for (const auto &f : fields) {
        const QString text = f.edit->text().trimmed();
        if (text.isEmpty())
            continue;
        *f.value = analysis::parseNumber(text, unit);
        if (!*f.value) {
            *problem = tr("The %1 \"%2\" is not a number. Leave the field empty for no limit.")
                           .arg(f.name, text);
            return false;
        }
    }
    if (typed.lower && typed.upper && *typed.lower > *typed.upper) {
        *problem = tr("The lower limit (%1) is above the upper limit (%2).")
                       .arg(*typed.lower)
                       .arg(*typed.upper);
        return false;
    }
    *limits = typed;
    return true;
}
