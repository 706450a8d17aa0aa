// SPDX-License-Identifier: MIT
#include "headlessrecorder.h"

#include "datamodel.h"
#include "itemexport.h"
#include "journal.h"
#include "meterlink.h"
#include "publisher.h"
#include "readingstore.h"
#include "recording.h"
#include "termination.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <unistd.h>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("HeadlessRecorder", text);
}

void printLine(std::FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", qPrintable(text));
    std::fflush(stream);
}

// The names the KV930 driver set answers to.
bool namesKv930Set(const QString &spec)
{
    return spec == QLatin1String("virtual") || spec == QLatin1String("kv930");
}
} // namespace

HeadlessRecorder::HeadlessRecorder(HeadlessOptions options, QObject *parent)
    : QObject(parent), m_options(std::move(options)),
      m_recording(std::make_unique<Recording>(QCoreApplication::translate("Widget", "Store Data"),
                                              QCoreApplication::translate("Widget", "Live Data"))),
      m_terminal(::isatty(STDERR_FILENO) == 1)
{
    if (m_options.meters.isEmpty())
        m_options.meters << QStringLiteral("virtual");
}

HeadlessRecorder::~HeadlessRecorder() = default;

void HeadlessRecorder::fail(const QString &reason)
{
    printLine(stderr, QStringLiteral("%1: %2").arg(QCoreApplication::applicationName(), reason));
    m_status = FailureStatus;
}

bool HeadlessRecorder::bindMeter()
{
    const QString spec = m_options.meters.first();
    if (!namesKv930Set(spec)) {
        fail(tr("unknown meter '%1' (kv930 --list-meters lists the meters).").arg(spec));
        return false;
    }
    const Recording::DriverScan scan =
        m_recording->bindDrivers(m_options.applicationDir, m_options.driverFolder);
    if (!scan.complete) {
        fail(tr("the meter driver is incomplete: %1 not found in %2.")
                 .arg(scan.missing, scan.scannedDirectory));
        return false;
    }
    m_meter = m_recording->meter();
    if (!m_meter->isPresent()) {
        fail(tr("the meter '%1' is not attached.").arg(spec));
        return false;
    }
    return true;
}

int HeadlessRecorder::run()
{
    if (!bindMeter())
        return m_status;

    m_recording->loadAnalysisSettings();
    const Recording::JournalStart journal =
        m_recording->startJournal(m_options.journal, Recording::JournalMode::NewSession);
    if (journal.outcome == Recording::JournalStart::Failed)
        printLine(stderr, tr("The recording journal cannot be kept in %1 (%2); readings are "
                             "kept in memory only.")
                              .arg(journal.folder, journal.error));
    connect(m_recording.get(), &Recording::journalFailed, this, [](const QString &reason) {
        printLine(stderr, tr("The recording journal cannot be written any more (%1); readings "
                             "are kept in memory only.")
                              .arg(reason));
    });

    if (Journal *opened = m_recording->journal()) {
        connect(opened, &Journal::stateChanged, this, [opened] {
            if (opened->state() == Journal::State::Waiting)
                printLine(stderr, tr("The recording journal is waiting for its file (%1); "
                                     "readings are kept in memory until it is free.")
                                      .arg(opened->stateReason()));
        });
    }

    startPublishing();

    ItemTree &tree = m_recording->tree();
    const QString name =
        m_options.itemName.isEmpty() ? tree.firstFreeMeasureName() : m_options.itemName;
    m_item = tree.createItem(name, ItemData::Measure);
    tree.setActive(m_item);
    connect(&tree, &ItemTree::readingsAppended, this, &HeadlessRecorder::readingAppended);

    connect(m_meter, &MeterLink::opened, this, &HeadlessRecorder::startRecording);
    connect(m_meter, &MeterLink::closed, this, [this] {
        if (!m_finished)
            finish(tr("the meter closed its link."));
    });
    connect(m_meter, &MeterLink::linkFailed, this, [this](const QString &message) {
        finish(tr("the meter link failed: %1").arg(message));
    });
    onTerminationSignals([this] {
        endDrain();
        finish();
    });

    if (!m_meter->open()) {
        fail(tr("the meter '%1' cannot be opened.").arg(m_meter->spec()));
        m_recording->closeNormally();
        return m_status;
    }
    QTimer::singleShot(OpenTimeoutMs, this, [this] {
        if (!m_recordingStarted && !m_finished)
            finish(tr("the meter did not open its link within %1 s.").arg(OpenTimeoutMs / 1000));
    });
    QCoreApplication::exec();
    return m_status;
}

void HeadlessRecorder::startRecording()
{
    if (m_recordingStarted || m_finished)
        return;
    m_recordingStarted = true;
    m_meter->startAcquisition(m_item);
    m_clock.start();
    if (m_options.durationSeconds > 0)
        QTimer::singleShot(qint64(m_options.durationSeconds * 1000), this, [this] { finish(); });
    m_progressTimer = new QTimer(this);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { printProgress(false); });
    m_progressTimer->start(1000);
}

void HeadlessRecorder::readingAppended(ItemData *item, int count)
{
    Q_UNUSED(count)
    if (item != m_item || m_finished)
        return;
    if (m_options.count > 0 && item->dataCount() >= m_options.count) {
        // Exactly the count asked for: nothing more goes into the item.
        m_meter->stopAcquisition();
        QTimer::singleShot(0, this, [this] { finish(); });
    }
}

void HeadlessRecorder::printProgress(bool final)
{
    if (!m_item)
        return;
    const ReadingStore &store = m_item->readings();
    const double seconds = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0.0;
    QString line = tr("%1 readings, %2/s")
                       .arg(store.size())
                       .arg(seconds > 0 ? store.size() / seconds : 0.0, 0, 'f', 1);
    if (!store.isEmpty()) {
        const int newest = store.size() - 1;
        line += tr(", newest %1 %2 at %3 nm")
                    .arg(store.ownText(newest).trimmed(), store.unit(newest))
                    .arg(store.waveLength(newest));
    }
    if (m_terminal) {
        // One line that rewrites itself; the final one stays.
        std::fprintf(stderr, "\r%s\x1b[K%s", qPrintable(line), final ? "\n" : "");
        std::fflush(stderr);
    } else if (!final) {
        printLine(stderr, line);
    }
}

void HeadlessRecorder::finish(const QString &failure)
{
    if (m_finished)
        return;
    m_finished = true;
    if (!failure.isEmpty())
        m_failure = failure;
    if (m_progressTimer)
        m_progressTimer->stop();
    m_meter->stopAcquisition();
    if (m_recordingStarted)
        printProgress(true);
    // Leave the event loop first: the export and the journal's end run after it.
    QTimer::singleShot(0, this, [this] {
        m_status = exportAndEnd();
        QCoreApplication::exit(m_status);
    });
}

int HeadlessRecorder::exportAndEnd()
{
    const double seconds = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0.0;
    int status = 0;
    if (!m_failure.isEmpty()) {
        fail(m_failure);
        status = FailureStatus;
    }
    m_meter->close();
    QString exported = tr("not exported");
    if (!m_options.exportFile.isEmpty()) {
        DataModel rows;
        rows.setStore(&m_item->readings());
        const itemexport::Result result =
            itemexport::write(m_options.exportFile, rows, m_recording->judge());
        rows.clear();
        if (result.ok) {
            m_recording->noteExported(m_item, result.written);
            exported = tr("exported to %1").arg(QFileInfo(m_options.exportFile).absoluteFilePath());
        } else {
            fail(tr("the export to %1 failed: %2").arg(m_options.exportFile, result.error));
            status = FailureStatus;
            exported = tr("export failed");
        }
    }
    m_recording->closeNormally();
    printLine(stdout, tr("%1 readings in %2 s into %3; %4")
                              .arg(m_item->dataCount())
                              .arg(seconds, 0, 'f', 1)
                              .arg(m_item->name(), exported) +
                          drainPublishing());
    return status;
}

int listMeters(const QString &applicationDir, const QString &driverFolder)
{
    Recording recording(QStringLiteral("Store Data"), QStringLiteral("Live Data"));
    const Recording::DriverScan scan = recording.bindDrivers(applicationDir, driverFolder);
    if (scan.complete && recording.meter()->isPresent())
        printLine(stdout, QStringLiteral("virtual\t%1")
                              .arg(tr("KV930 driver set in %1").arg(scan.scannedDirectory)));
    return 0;
}
