#pragma once

#include "journal.h"

#include <QDialog>
#include <QVector>

class QDialogButtonBox;
class QTreeWidget;

// File > Recent Recordings: the journal's past sessions (start, end, items,
// readings), newest first; Open takes the selected one.
class DlgRecentRecordings : public QDialog
{
    Q_OBJECT
public:
    explicit DlgRecentRecordings(const QVector<JournalSessionInfo> &sessions,
                                 QWidget *parent = nullptr);
    // The chosen session's id, 0 when none is selected.
    qint64 selectedSession() const;

private:
    QTreeWidget *m_list = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};
