#include "dlgpublishing.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSysInfo>
#include <QVBoxLayout>

DlgPublishing::DlgPublishing(const PublishOptions &current, QWidget *parent)
    : QDialog(parent), m_current(current)
{
    setObjectName(QStringLiteral("DlgPublishing"));
    setWindowTitle(tr("Publishing"));
    auto *layout = new QVBoxLayout(this);
    auto *explanation = new QLabel(
        tr("Every reading recorded is published to this MQTT broker as InfluxDB line protocol, "
           "on the topic kv930/<station>/<item>. Readings wait in the recording journal while "
           "the broker cannot be reached. Leave the URL empty to publish nothing."),
        this);
    explanation->setObjectName(QStringLiteral("lblPublishingExplanation"));
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    auto *form = new QFormLayout;
    auto field = [this](const char *name, const QString &text) {
        auto *edit = new QLineEdit(text, this);
        edit->setObjectName(QLatin1String(name));
        return edit;
    };
    m_url = field("leBrokerUrl", current.url);
    m_url->setPlaceholderText(tr("mqtt://broker:1883 or mqtts://broker:8883"));
    m_user = field("leUser", current.user);
    m_password = field("lePassword", current.password);
    m_password->setEchoMode(QLineEdit::Password);
    m_station = field("leStation", current.station);
    m_station->setPlaceholderText(QSysInfo::machineHostName());
    form->addRow(tr("Broker URL:"), m_url);
    form->addRow(tr("User:"), m_user);
    form->addRow(tr("Password:"), m_password);
    form->addRow(tr("Station name:"), m_station);
    layout->addLayout(form);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(460, sizeHint().height());
}

bool DlgPublishing::read(PublishOptions *options, QString *problem) const
{
    PublishOptions typed = m_current;
    typed.url = m_url->text().trimmed();
    typed.user = m_user->text();
    typed.password = m_password->text();
    typed.station = m_station->text().trimmed();
    // A password in the key ring is not shown: an empty field keeps it, as
    // long as it is for the same broker and user.
    QString error;
    const auto host = [&error](const QString &url) {
        const std::optional<BrokerAddress> address = BrokerAddress::parse(url, &error);
        return address ? address->host : QString();
    };
    typed.passwordInKeyring = m_current.passwordInKeyring && typed.password.isEmpty() &&
                              typed.user == m_current.user &&
                              host(typed.url) == host(m_current.url);
    error.clear();
    if (typed.isEnabled() && !BrokerAddress::parse(typed.url, &error)) {
        *problem = tr("The broker URL will not do: %1.").arg(error);
        return false;
    }
    if (!typed.station.isEmpty()) {
        *problem = stationNameProblem(typed.station);
        if (!problem->isEmpty())
            return false;
    }
    *options = typed;
    return true;
}
