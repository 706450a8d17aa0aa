#pragma once

#include "publishoptions.h"

#include <QDialog>

class QLineEdit;

// File > Publishing...: the broker the station publishes its readings to
// (an empty URL publishes nothing), the user and password it logs in with,
// and the station's name. The dialog only collects the texts; read() says
// whether they make options, so that the caller can say what is wrong and
// ask again.
class DlgPublishing : public QDialog
{
    Q_OBJECT
public:
    explicit DlgPublishing(const PublishOptions &current, QWidget *parent = nullptr);

    // The options typed (the others kept from current); false with a message
    // for people when the URL or the station name will not do.
    bool read(PublishOptions *options, QString *problem) const;

private:
    PublishOptions m_current;
    QLineEdit *m_url;
    QLineEdit *m_user;
    QLineEdit *m_password;
    QLineEdit *m_station;
};
