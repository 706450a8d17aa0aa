#pragma once

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QStringList>
#include <QtTest>

#include <memory>

// One row as the reading table shows it: No. (int), time text, value text,
// unit, wavelength text.
struct TableRow
{
    int no;
    QString time;
    QString value;
    QString unit;
    QString waveLength;
};

inline QStringList tableHeaders()
{
    return {QStringLiteral("No."), QStringLiteral("Time"), QStringLiteral("Value"),
            QStringLiteral("Unit"), QStringLiteral("WaveLength")};
}

inline std::unique_ptr<QStandardItemModel> tableModel(const QVector<TableRow> &rows)
{
    auto model = std::make_unique<QStandardItemModel>(rows.size(), 5);
    for (int r = 0; r < rows.size(); ++r) {
        const TableRow &t = rows.at(r);
        auto set = [&](int c, const QVariant &v) {
            auto *item = new QStandardItem;
            item->setData(v, Qt::DisplayRole);
            model->setItem(r, c, item);
        };
        set(0, t.no);
        set(1, t.time);
        set(2, t.value);
        set(3, t.unit);
        set(4, t.waveLength);
    }
    return model;
}

// Readings of every kind the program holds: live ones (time to the second),
// stored ones (meter numbers, time to the minute), imported ones, all three
// units, both overloads, wavelengths 0 and 1550.
inline QVector<TableRow> sampleRows()
{
    return {
        {1, QStringLiteral("2024-05-01 12:00:01"), QStringLiteral("-3.00"), QStringLiteral("dBm"),
         QStringLiteral("1550nm")},
        {2, QStringLiteral("2024-05-01 12:00:02"), QStringLiteral("501.2"), QStringLiteral("uW"),
         QStringLiteral("1550nm")},
        {3, QStringLiteral("2024-05-01 23:59:59"), QStringLiteral("0.501"), QStringLiteral("mW"),
         QStringLiteral("0nm")},
        {4, QStringLiteral("2024-05-02 00:00:00"), QStringLiteral("    OL"), QStringLiteral("uW"),
         QStringLiteral("1310nm")},
        {5, QStringLiteral("2024-05-02 00:00:01"), QStringLiteral("   -OL"), QStringLiteral("dBm"),
         QStringLiteral("1550nm")},
        {17, QStringLiteral("2023-12-31 08:15"), QStringLiteral("-12.34"), QStringLiteral("dBm"),
         QStringLiteral("850nm")},
        {18, QStringLiteral("2000-02-29 23:59"), QStringLiteral("12.5"), QStringLiteral("mW"),
         QStringLiteral("1550nm")},
        {8, QStringLiteral("not a time"), QStringLiteral("0.0"), QStringLiteral("uW"),
         QStringLiteral("1550nm")},
        {9, QStringLiteral("2023-02-29 12:00:00"), QStringLiteral("1.0"), QStringLiteral("uW"),
         QStringLiteral("1550nm")},
        {10, QStringLiteral("1899-12-31 12:00:00"), QStringLiteral("2.0"), QStringLiteral("uW"),
         QStringLiteral("1550nm")},
    };
}

inline QString debianPython()
{
    // xlrd comes from Debian, so prefer the system interpreter over any
    // other python3 that may come first on PATH.
    if (QFile::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

// Reads a workbook with xlrd (see xlrd_dump.py); fails the test when xlrd
// cannot read it.
inline QJsonObject xlrdDump(const QString &path, bool summary = false)
{
    QProcess p;
    QStringList args{QStringLiteral(XLS_TEST_SOURCE_DIR "/xlrd_dump.py"), path};
    if (summary)
        args << QStringLiteral("--summary");
    p.start(debianPython(), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "xlrd failed:" << p.readAllStandardError();
        return QJsonObject();
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}
