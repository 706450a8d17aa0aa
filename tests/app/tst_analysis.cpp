// Loss, statistics, limits and CSV files through the window on the virtual
// KV930, driven by the object names a user's tools would use.
#include "chartline.h"
#include "datamodel.h"
#include "dmmchart.h"
#include "judge.h"
#include "kv930resources.h"
#include "readingstore.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QtTest>

#include <cmath>

namespace {
QString fixed(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

// Plain figures of the readings first..last at a wavelength.
struct Plain
{
    int count = 0, leftOut = 0;
    double min = INFINITY, max = -INFINITY, sumMW = 0.0;
};
Plain plainFigures(const ReadingStore &s, int first, int last, quint16 waveLength)
{
    Plain p;
    for (int i = first; i <= last; ++i) {
        if (s.waveLength(i) != waveLength)
            continue;
        if (s.overload(i) != 0 || !std::isfinite(s.valueDBm(i)) || !(s.valueMW(i) > 0)) {
            ++p.leftOut;
            continue;
        }
        ++p.count;
        p.min = std::min(p.min, s.valueDBm(i));
        p.max = std::max(p.max, s.valueDBm(i));
        p.sumMW += s.valueMW(i);
    }
    return p;
}
} // namespace

class WindowAnalysisTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir config;
    QTemporaryDir steady; // a meter without range events
    QTemporaryDir noisy;  // one with many
    QTemporaryDir files;

    struct Window
    {
        ScriptedPrompt *prompt = nullptr;
        std::unique_ptr<Widget> w;
        template <typename T> T *child(const char *name) const
        {
            return w->findChild<T *>(QLatin1String(name));
        }
        QString text(const char *label) const { return child<QLabel>(label)->text(); }
        void trigger(const char *action) const { windowAction(*w, action)->trigger(); }
        const ReadingStore &readings() const { return w->activeItemData()->readings(); }
    };
    Window open(const QTemporaryDir &appDir)
    {
        Window win;
        auto scripted = std::make_unique<ScriptedPrompt>();
        win.prompt = scripted.get();
        win.w = std::make_unique<Widget>(appDir.path(), std::move(scripted));
        win.w->show();
        return win;
    }
    // Records at least count live readings, then stops and lets the views catch up.
    void record(const Window &win, int count)
    {
        if (!windowAction(*win.w, "actionStart")->isEnabled()) {
            win.trigger("actionConnect");
            QTRY_VERIFY(windowAction(*win.w, "actionStart")->isEnabled());
        }
        const int before = win.w->activeItemData()->dataCount();
        win.trigger("actionStart");
        QTRY_VERIFY_WITH_TIMEOUT(win.w->activeItemData()->dataCount() >= before + count, 60000);
        win.trigger("actionStop");
        QTRY_COMPARE(win.w->readingModel()->rowCount(), win.w->activeItemData()->dataCount());
        QTest::qWait(150); // the panel and statistics follow at their next turn
    }
    static std::function<int(QDialog &)> limits(QStringList answers)
    {
        // Each shown dialog takes "lower|upper" (accepted) or "" (cancelled).
        return [answers](QDialog &dialog) mutable {
            if (dialog.objectName() != QLatin1String("DlgLimits") || answers.isEmpty())
                return int(QDialog::Rejected);
            const QString answer = answers.takeFirst();
            if (answer.isEmpty())
                return int(QDialog::Rejected);
            dialog.findChild<QLineEdit *>("leLowerLimit")->setText(answer.section('|', 0, 0));
            dialog.findChild<QLineEdit *>("leUpperLimit")->setText(answer.section('|', 1, 1));
            return int(QDialog::Accepted);
        };
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        // References and limits are kept in the user's configuration: here.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        QVERIFY(installVirtualMeter(steady, "[meter]\nrate=200\nunit=cycle\nrangeEventChance=0\n"
                                            "openDelayMs=10\n"));
        QVERIFY(installVirtualMeter(noisy, "[meter]\nrate=400\nunit=cycle\nrangeEventChance=0.1\n"
                                           "openDelayMs=10\n"));
    }

    void init()
    {
        QFile::remove(config.filePath("kv930/kv930.conf"));
        QTest::qWait(100); // the driver's closed() for the last window comes and goes
    }

    void referenceLossAndVerdictOnThePanel()
    {
        Window win = open(steady);
        QVERIFY(!win.child<QLabel>("lcdLoss")->isVisible());
        record(win, 20);
        QCOMPARE(win.text("lcdBasis"), QString());
        win.trigger("actionSetReference");
        const ReadingStore &s = win.readings();
        const double reference = s.valueDBm(s.size() - 1);
        QCOMPARE(win.w->judge().reference(1550), std::optional<double>(reference));
        QCOMPARE(win.text("lcdBasis"), QStringLiteral("REF"));
        QCOMPARE(win.text("lcdLoss"), QStringLiteral("Loss 0.00 dB"));
        QVERIFY(win.child<QLabel>("lcdLoss")->isVisible());

        record(win, 20);
        const double newest = s.valueDBm(s.size() - 1);
        QCOMPARE(win.text("lcdLoss"),
                 QStringLiteral("Loss %1 dB").arg(fixed(reference - newest, 2)));
        // The statistics turn to loss: the smallest loss is the largest power.
        const Plain p = plainFigures(s, 0, s.size() - 1, 1550);
        QCOMPARE(win.text("statMin"),
                 QStringLiteral("Min loss %1 dB").arg(fixed(reference - p.max, 2)));
        QCOMPARE(win.text("statMax"),
                 QStringLiteral("Max loss %1 dB").arg(fixed(reference - p.min, 2)));

        // Limits of the loss, inclusive: the newest reading's own loss passes.
        const QString own = analysis::exactNumber(reference - newest);
        win.prompt->onExec = limits({own + "|" + own});
        win.trigger("actionLimits");
        QCOMPARE(win.text("lcdVerdict"), QStringLiteral("PASS"));
        QVERIFY(win.child<QLabel>("lcdVerdict")->styleSheet().contains("0, 150, 0")); // green
        win.prompt->onExec = limits({"|" + analysis::exactNumber(reference - newest - 0.001)});
        win.trigger("actionLimits");
        QCOMPARE(win.text("lcdVerdict"), QStringLiteral("HIGH"));
        QVERIFY(win.child<QLabel>("lcdVerdict")->styleSheet().contains("210, 0, 0")); // red
        // The table shows readings outside the limits in red.
        const QModelIndex value = win.w->readingModel()->index(s.size() - 1, 2);
        QCOMPARE(value.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
        const double upper = *win.w->judge().lossLimits().upper;
        int outside = 0;
        for (int i = 0; i < s.size(); ++i)
            outside += reference - s.valueDBm(i) > upper;
        QCOMPARE(win.text("statOutOfLimits"), QStringLiteral("Out of limits %1").arg(outside));

        // Kept for the next run, in the user's configuration.
        Window next = open(steady);
        QCOMPARE(next.w->judge().reference(1550), std::optional<double>(reference));
        QCOMPARE(next.w->judge().lossLimits(), win.w->judge().lossLimits());

        // Without a reference the dBm limits apply, and these are none.
        win.trigger("actionClearReference");
        QCOMPARE(win.text("lcdBasis"), QString());
        QCOMPARE(win.text("lcdLoss"), QString());
        QCOMPARE(win.text("lcdVerdict"), QString());
        QVERIFY(!win.child<QLabel>("lcdVerdict")->isVisible());
        QVERIFY(!value.data(Qt::ForegroundRole).isValid());
        QCOMPARE(win.text("statMin"), QStringLiteral("Min %1 dBm").arg(fixed(p.min, 2)));
        QVERIFY(win.prompt->messages().isEmpty());
    }

    void chartRangeAndLimitLines()
    {
        Window win = open(noisy);
        win.child<QTabWidget>("tabWidget")->setCurrentIndex(1); // the chart draws when shown
        auto *validOnly = win.child<QCheckBox>("cbValidRange");
        QVERIFY(validOnly && validOnly->isVisible());
        QCOMPARE(validOnly->text(), QStringLiteral("Valid readings only"));
        QVERIFY(!validOnly->isChecked());
        auto *chart = win.child<DMMChart>("chart");
        const ReadingStore &s = win.readings();
        int overloads = 0, overRange = 0;
        while (overRange == 0) {
            record(win, 50);
            overloads = overRange = 0;
            for (int i = 0; i < s.size(); ++i) {
                overloads += s.overload(i) != 0;
                overRange += s.overload(i) > 0;
            }
        }
        // Off: an over-range reading's value (39,990 uW) is drawn like any other.
        QCOMPARE(win.child<QComboBox>("cbbChartUnit")->currentText(), QStringLiteral("uW"));
        double validMax = -INFINITY;
        for (int i = 0; i < s.size(); ++i) {
            if (s.overload(i) == 0)
                validMax = std::max(validMax, s.valueUW(i));
        }
        QTRY_VERIFY(chart->yMax() >= 39990.0);
        // On: the range is that of the valid readings, the rest are edge ticks.
        validOnly->setChecked(true);
        QTRY_VERIFY(chart->yMax() < 39990.0);
        QVERIFY(chart->yMax() >= validMax);
        const ChartLine *line = chart->series(0);
        QCOMPARE(int(line->overRange().size() + line->underRange().size()), overloads);

        // Power limits are dashed lines in the chart's unit; loss limits are not.
        win.prompt->onExec = limits({"-10|-2"});
        win.trigger("actionLimits");
        QCOMPARE(chart->lowerLimitLine().value_or(0), 100.0);
        QVERIFY(qAbs(chart->upperLimitLine().value_or(0) - 630.957) < 0.001);
        win.child<QComboBox>("cbbChartUnit")->setCurrentText(QStringLiteral("dBm"));
        QCOMPARE(chart->lowerLimitLine(), std::optional<double>(-10.0));
        while (s.overload(s.size() - 1) != 0)
            record(win, 1); // a reference is taken from a reading with a power only
        win.trigger("actionSetReference");
        QVERIFY(win.w->judge().hasAnyReference());
        QVERIFY(!chart->lowerLimitLine() && !chart->upperLimitLine());

        // The choice is kept for the next run.
        Window next = open(noisy);
        QVERIFY(next.child<QCheckBox>("cbValidRange")->isChecked());
        QVERIFY(next.child<DMMChart>("chart")->validRangeOnly());
    }

    void typedReferenceRefusedInputAndReadingsWithoutPower()
    {
        WindowOnFake f; // the scripted meter: readings of our choosing
        QObject *fake = fakeMeter();
        resetFake(fake);
        // No reading yet: the reference is asked for, in dBm.
        f.prompt->texts << "abc"
                        << "0 mW"
                        << "-3 dBm";
        for (int i = 0; i < 3; ++i)
            f.action("actionSetReference")->trigger();
        QCOMPARE(f.prompt->messages(),
                 QStringList({"\"abc\" is not a power in dBm. No reference was set.",
                              "\"0 mW\" is not a power in dBm. No reference was set."}));
        QCOMPARE(f.window->judge().reference(1310), std::optional<double>(-3.0));

        // A lower limit above the upper one is refused, and the dialog comes
        // back with what was typed until it is put right or cancelled.
        f.prompt->asked.clear();
        QStringList shownLower;
        auto answers = limits({"2|1", "x|1", ""});
        f.prompt->onExec = [&](QDialog &dialog) {
            shownLower << dialog.findChild<QLineEdit *>("leLowerLimit")->text();
            return answers(dialog);
        };
        f.action("actionLimits")->trigger();
        QCOMPARE(f.prompt->messages(),
                 QStringList({"The lower limit (2) is above the upper limit (1).",
                              "The lower limit \"x\" is not a number. Leave the field empty for no "
                              "limit."}));
        QCOMPARE(shownLower, QStringList({"", "2", "x"}));
        QVERIFY(f.window->judge().lossLimits().isEmpty());

        f.prompt->asked.clear();
        f.action("actionConnect")->trigger();
        QTRY_VERIFY(f.action("actionStart")->isEnabled());
        f.action("actionStart")->trigger();
        auto emitUW = [&](double uW) {
            QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, "dBm"), Q_ARG(double, uW),
                                      Q_ARG(int, 1550), Q_ARG(QDateTime, QDateTime()));
            QTest::qWait(150);
        };
        emitUW(0.0); // under range: the reference applies, yet there is no loss
        QCOMPARE(f.child<QLabel>("lcdValue")->text(), QStringLiteral("   -OL"));
        QCOMPARE(f.child<QLabel>("lcdBasis")->text(), QStringLiteral("REF"));
        QCOMPARE(f.child<QLabel>("lcdLoss")->text(), QString());
        f.action("actionSetReference")->trigger(); // nor a reference from it
        QCOMPARE(f.prompt->messages(),
                 QStringList({"The newest reading has no power to take as a reference (over or "
                              "under range, 0 mW or no value). No reference was set."}));
        QCOMPARE(f.window->judge().reference(1550), std::optional<double>(-3.0));
        emitUW(500.0); // -3.0103 dBm
        QCOMPARE(f.child<QLabel>("lcdLoss")->text(), QStringLiteral("Loss 0.01 dB"));
        QCOMPARE(f.child<QLabel>("lcdVerdict")->text(), QString()); // no limits
        QCOMPARE(f.child<QLabel>("statCount")->text(), QStringLiteral("Count 1 (+1)"));

        // No light against loss limits: an unbounded loss, HIGH, in red and
        // counted outside the limits, as the earlier one now is too.
        f.prompt->onExec = limits({"0|1"});
        f.action("actionLimits")->trigger();
        emitUW(0.0);
        QCOMPARE(f.child<QLabel>("lcdVerdict")->text(), QStringLiteral("HIGH"));
        const QModelIndex noLight = f.window->readingModel()->index(2, 2);
        QCOMPARE(noLight.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
        QCOMPARE(f.child<QLabel>("statOutOfLimits")->text(), QStringLiteral("Out of limits 2"));
        f.action("actionStop")->trigger();

        // Set Reference takes the active item's newest reading, never one the
        // panel still shows: a new item has none, so a value is asked for.
        f.prompt->texts << "Second"
                        << "-7";
        f.action("actionItemNew")->trigger();
        f.prompt->asked.clear();
        f.action("actionSetReference")->trigger();
        QCOMPARE(f.prompt->asked.value(0).kind, QStringLiteral("text"));
        QCOMPARE(f.window->judge().reference(1550), std::optional<double>(-7.0));
    }

    void statisticsFollowTheItemAndTheZoom()
    {
        Window win = open(noisy);
        auto *box = win.child<QGroupBox>("gbStatistics");
        QCOMPARE(box->title(), QStringLiteral("Statistics"));
        QCOMPARE(win.text("statCount"), QStringLiteral("Count 0"));
        record(win, 400);
        const ReadingStore &s = win.readings();
        const Plain all = plainFigures(s, 0, s.size() - 1, 1550);
        QVERIFY(all.leftOut > 0); // over and under range happened
        QCOMPARE(box->title(), QStringLiteral("Statistics at 1550 nm"));
        QCOMPARE(win.text("statCount"),
                 QStringLiteral("Count %1 (+%2)").arg(all.count).arg(all.leftOut));
        QCOMPARE(win.text("statMin"), QStringLiteral("Min %1 dBm").arg(fixed(all.min, 2)));
        QCOMPARE(win.text("statMax"), QStringLiteral("Max %1 dBm").arg(fixed(all.max, 2)));
        QCOMPARE(
            win.text("statAvg"),
            QStringLiteral("Avg %1 dBm").arg(fixed(10 * std::log10(all.sumMW / all.count), 2)));
        QCOMPARE(win.text("statSpan"),
                 QStringLiteral("Span %1 dB").arg(fixed(all.max - all.min, 2)));
        QVERIFY(win.text("statStd").startsWith("Std ") && win.text("statStd").endsWith(" dB"));
        QVERIFY(win.text("statDrift").startsWith("Drift ") &&
                win.text("statDrift").endsWith(" dB/h"));
        QCOMPARE(win.text("statOutOfLimits"), QStringLiteral("Out of limits")); // none set

        // Zoomed, the figures cover the chart's window.
        auto *tabs = win.child<QTabWidget>("tabWidget");
        tabs->setCurrentWidget(win.child<QWidget>("tabChart"));
        auto *chart = win.child<DMMChart>("chart");
        QVERIFY(QTest::qWaitForWindowExposed(win.w.get()));
        chart->repaint();
        const QRect plot = chart->plotRect();
        const QPoint from(plot.left() + plot.width() / 5, plot.top() + 10);
        const QPoint to(plot.left() + plot.width() * 3 / 5, plot.bottom() - 10);
        QTest::mousePress(chart, Qt::LeftButton, {}, from);
        // Moves go straight to the chart: the offscreen platform has no cursor.
        QMouseEvent move(QEvent::MouseMove, to, chart->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
        QTest::mouseRelease(chart, Qt::LeftButton, {}, to);
        QVERIFY(chart->isZoomed());
        QTRY_COMPARE(box->title(), QStringLiteral("Statistics at 1550 nm, zoomed"));
        const Plain zoomed = plainFigures(s, chart->firstVisible(), chart->lastVisible(), 1550);
        QVERIFY(zoomed.count < all.count);
        QCOMPARE(win.text("statCount"),
                 zoomed.leftOut
                     ? QStringLiteral("Count %1 (+%2)").arg(zoomed.count).arg(zoomed.leftOut)
                     : QStringLiteral("Count %1").arg(zoomed.count));
        QCOMPARE(win.text("statMax"), QStringLiteral("Max %1 dBm").arg(fixed(zoomed.max, 2)));
        // A click shows everything again.
        QTest::mouseClick(chart, Qt::LeftButton, {}, from);
        QTRY_COMPARE(box->title(), QStringLiteral("Statistics at 1550 nm"));

        // Another item has figures of its own: none yet.
        win.prompt->texts << "Empty";
        win.trigger("actionItemNew");
        QTRY_COMPARE(box->title(), QStringLiteral("Statistics"));
        QCOMPARE(win.text("statCount"), QStringLiteral("Count 0"));
    }

    void csvOutAndBackIn()
    {
        Window win = open(noisy);
        // Loss against -3 dBm, judged against 0 .. 0.1 dB.
        win.prompt->texts << "-3";
        win.trigger("actionSetReference");
        win.prompt->onExec = limits({"0|0.1"});
        win.trigger("actionLimits");
        record(win, 300);
        const DataModel &table = *win.w->readingModel();
        QStringList cells;
        for (int r = 0; r < table.rowCount(); ++r)
            for (int c = 0; c < table.columnCount(); ++c)
                cells << table.index(r, c).data().toString();

        const QString path = files.filePath("run.csv");
        win.prompt->asked.clear();
        win.prompt->onExec = [](QDialog &dialog) {
            dialog.findChild<QRadioButton *>("rbCsv")->setChecked(true);
            return int(QDialog::Accepted);
        };
        win.prompt->fileNames << path;
        win.w->setEventPassMs(0);
        win.trigger("actionExport");
        QCOMPARE(win.prompt->asked.at(1).filter, QStringLiteral("CSV File(*.csv)"));
        QCOMPARE(win.prompt->messages(), QStringList({"The datas is exported successfully."}));
        QVERIFY(QFile::exists(path));

        // python's csv module reads what a technician would see.
        QProcess py;
        py.start(
            "/usr/bin/python3",
            {"-c",
             "import csv,sys; r=list(csv.reader(open(sys.argv[1],newline='',encoding='utf-8')));"
             "print(len(r)-1, ','.join(r[0]), sum(1 for x in r[1:] if 'OL' in x[7] and not x[4]),"
             " sum(1 for x in r[1:] if x[5] and (float(x[9]) != -3 - float(x[5]) or x[10] != "
             "('LOW' if float(x[9]) < 0 else 'HIGH' if float(x[9]) > 0.1 else 'PASS'))))",
             path});
        QVERIFY(py.waitForFinished(30000));
        const QStringList seen = QString::fromUtf8(py.readAllStandardOutput()).split(' ');
        QCOMPARE(seen.value(0).toInt(), table.rowCount());
        QCOMPARE(seen.value(1),
                 QStringLiteral("No,Time,MeterTime,Power_uW,Power_mW,Power_dBm,"
                                "Unit,Display,Wavelength_nm,Loss_dB,Verdict,Stored"));
        QVERIFY(seen.value(2).toInt() > 0); // range events: no powers, the meter's text
        QCOMPARE(seen.value(3).trimmed(), QStringLiteral("0")); // every loss and verdict right

        // Back in: a new item with the same table.
        win.prompt->asked.clear();
        win.prompt->fileNames << path;
        win.trigger("actionImport");
        QCOMPARE(win.prompt->asked.at(0).filter,
                 QStringLiteral("Excel File(*.xls *.xlsx);;CSV File(*.csv)"));
        QCOMPARE(win.prompt->messages(), QStringList({"The datas is imported successfully."}));
        QCOMPARE(win.w->activeItemData()->name(), QStringLiteral("Import1"));
        QStringList back;
        for (int r = 0; r < table.rowCount(); ++r)
            for (int c = 0; c < table.columnCount(); ++c)
                back << table.index(r, c).data().toString();
        QCOMPARE(back, cells);

        // A broken file makes no item and says why.
        QFile broken(files.filePath("broken.csv"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("No,Time,MeterTime,Power_uW,Power_mW,Power_dBm,Unit,Display,Wavelength_nm\n"
                     "1,,,1,0.001,-30,uW,1.000,1550\n1,,,1,zero,-30,uW,1.000,1550\n");
        broken.close();
        const int items = win.w->treeModel()->rowCount(win.w->treeModel()->index(1, 0));
        win.prompt->asked.clear();
        win.prompt->fileNames << broken.fileName();
        win.trigger("actionImport");
        QCOMPARE(win.prompt->messages(),
                 QStringList({"The datas is imported failed.\nRow 3: Power_mW \"zero\" is not a "
                              "number."}));
        QCOMPARE(win.w->treeModel()->rowCount(win.w->treeModel()->index(1, 0)), items);
        QCOMPARE(win.w->activeItemData()->name(), QStringLiteral("Import1"));
    }
};

QTEST_MAIN(WindowAnalysisTest)
#include "tst_analysis.moc"
