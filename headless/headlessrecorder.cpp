// SPDX-License-Identifier: MIT
#include "headlessrecorder.h"

#include "datamodel.h"
#include "itemexport.h"
#include "journal.h"
#include "metercatalogue.h"
#include "meterlink.h"
#include "publisher.h"
#include "readingstore.h"
#include "recording.h"
#include "termination.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

#include <unistd.h>

namespace {
void printLine(std::FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", qPrintable(text));
    std::fflush(stream);
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

bool HeadlessRecorder::bindMeters()
{
    const Recording::DriverScan scan =
        m_recording->bindDrivers(m_options.applicationDir, m_options.driverFolder);
    for (const QString &meterId : qAsConst(m_options.meters)) {
        QString error;
        MeterLink *link = nullptr;
        if (m_channels.empty()) {
            if (m_recording->selectMeter(meterId, m_options.meterOptions, &error))
                link = m_recording->meter();
        } else {
            link = m_recording->addMeter(meterId, m_options.meterOptions, &error);
        }
        if (!link) {
            // The KV930 set is bound from Lib as a whole: say what it lacks.
            if (!scan.complete && m_recording->meters().isEmpty() && m_channels.empty())
                error += tr(" (the KV930 driver set is incomplete: %1 not found in %2)")
                             .arg(scan.missing, scan.scannedDirectory);
            fail(tr("the meter '%1' cannot be used: %2 (kv930 --list-meters lists the meters).")
                     .arg(meterId, error));
            return false;
        }
        if (!link->isPresent()) {
            fail(tr("the meter '%1' is not attached.").arg(meterId));
            return false;
        }
        Channel channel;
        channel.meter = link;
        m_channels.push_back(channel);
    }
    return true;
}

HeadlessRecorder::Channel *HeadlessRecorder::channelOf(const QObject *meter)
{
    for (Channel &channel : m_channels) {
        if (channel.meter == meter)
            return &channel;
    }
    return nullptr;
}

int HeadlessRecorder::run()
{
    if (!bindMeters())
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

    // One meter records into the item asked for (MeasureN by default); each
    // of several into one named after it.
    ItemTree &tree = m_recording->tree();
    for (Channel &channel : m_channels) {
        QString name = m_options.itemName;
        if (m_channels.size() > 1)
            name = tree.freeName(channel.meter->itemName());
        else if (name.isEmpty())
            name = tree.firstFreeMeasureName();
        channel.item = tree.createItem(name, ItemData::Measure);
        tree.setItemMeter(channel.item, channel.meter->meterId());
    }
    tree.setActive(m_channels.front().item);
    connect(&tree, &ItemTree::readingsAppended, this, &HeadlessRecorder::readingAppended);

    for (Channel &channel : m_channels) {
        MeterLink *link = channel.meter;
        connect(link, &MeterLink::opened, this, [this, link] {
            if (Channel *c = channelOf(link))
                startRecording(*c);
        });
        connect(link, &MeterLink::closed, this, [this, link] {
            if (Channel *c = channelOf(link); c && !m_finished && !c->done)
                channelDone(*c, tr("the meter '%1' closed its link.").arg(link->meterId()));
        });
        connect(link, &MeterLink::linkFailed, this, [this, link](const QString &message) {
            if (Channel *c = channelOf(link); c && !c->done)
                channelDone(
                    *c, tr("the link of the meter '%1' failed: %2").arg(link->meterId(), message));
        });
    }
    onTerminationSignals([this] {
        endDrain();
        finish();
    });

    for (Channel &channel : m_channels) {
        if (!channel.meter->open()) {
            fail(tr("the meter '%1' cannot be opened.").arg(channel.meter->meterId()));
            for (Channel &other : m_channels)
                other.meter->close();
            m_recording->closeNormally();
            return m_status;
        }
    }
    QTimer::singleShot(OpenTimeoutMs, this, [this] {
        for (Channel &channel : m_channels) {
            if (!channel.started && !channel.done && !m_finished)
                channelDone(channel, tr("the meter '%1' did not open its link within %2 s.")
                                         .arg(channel.meter->meterId())
                                         .arg(OpenTimeoutMs / 1000));
        }
    });
    QCoreApplication::exec();
    return m_status;
}

void HeadlessRecorder::startRecording(Channel &channel)
{
    if (channel.started || channel.done || m_finished)
        return;
    channel.started = true;
    channel.meter->startAcquisition(channel.item);
    if (m_recordingStarted)
        return;
    // The clock, the duration and the progress run from the first meter's start.
    m_recordingStarted = true;
    m_clock.start();
    if (m_options.durationSeconds > 0)
        QTimer::singleShot(qint64(m_options.durationSeconds * 1000), this, [this] { finish(); });
    m_progressTimer = new QTimer(this);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { printProgress(false); });
    m_progressTimer->start(1000);
}

void HeadlessRecorder::channelDone(Channel &channel, const QString &failure)
{
    channel.done = true;
    channel.meter->stopAcquisition();
    if (!failure.isEmpty()) {
        m_failures << failure;
        // The others record on: the reason is said now (one meter: at the end).
        if (m_channels.size() > 1)
            printLine(stderr,
                      QStringLiteral("%1: %2").arg(QCoreApplication::applicationName(), failure));
    }
    const bool allDone = std::all_of(m_channels.cbegin(), m_channels.cend(),
                                     [](const Channel &c) { return c.done; });
    if (allDone)
        QTimer::singleShot(0, this, [this] { finish(); });
}

void HeadlessRecorder::readingAppended(ItemData *item, int count)
{
    Q_UNUSED(count)
    if (m_finished || m_options.count <= 0)
        return;
    for (Channel &channel : m_channels) {
        // Exactly the count asked for: nothing more goes into the item.
        if (channel.item == item && !channel.done && item->dataCount() >= m_options.count)
            channelDone(channel);
    }
}

qint64 HeadlessRecorder::totalReadings() const
{
    qint64 total = 0;
    for (const Channel &channel : m_channels)
        total += channel.item ? channel.item->dataCount() : 0;
    return total;
}

void HeadlessRecorder::printProgress(bool final)
{
    if (m_channels.empty() || !m_channels.front().item)
        return;
    const qint64 total = totalReadings();
    const double seconds = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0.0;
    QString line =
        tr("%1 readings, %2/s").arg(total).arg(seconds > 0 ? total / seconds : 0.0, 0, 'f', 1);
    for (const Channel &channel : m_channels) {
        const ReadingStore &store = channel.item->readings();
        if (store.isEmpty())
            continue;
        const int newest = store.size() - 1;
        line +=
            m_channels.size() > 1 ? QStringLiteral("; %1").arg(channel.item->name()) : QString();
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

void HeadlessRecorder::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_progressTimer)
        m_progressTimer->stop();
    for (Channel &channel : m_channels)
        channel.meter->stopAcquisition();
    if (m_recordingStarted)
        printProgress(true);
    // Leave the event loop first: the export and the journal's end run after it.
    QTimer::singleShot(0, this, [this] {
        m_status = exportAndEnd();
        QCoreApplication::exit(m_status);
    });
}

QString HeadlessRecorder::exportPathFor(const QString &exportFile, const QString &itemName)
{
    const QFileInfo info(exportFile);
    QString name = itemName;
    // An item name is free text; a file name takes no folder separators.
    name.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return info.dir().filePath(
        QStringLiteral("%1-%2%3").arg(info.completeBaseName(), name, suffix));
}

int HeadlessRecorder::exportAndEnd()
{
    const double seconds = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0.0;
    int status = m_failures.isEmpty() ? 0 : FailureStatus;
    // Several meters said each failure as it came; one meter's ends the run.
    if (m_channels.size() == 1) {
        for (const QString &failure : qAsConst(m_failures))
            fail(failure);
    }
    for (Channel &channel : m_channels)
        channel.meter->close();
    QStringList summary;
    for (const Channel &channel : m_channels) {
        QString exported = tr("not exported");
        if (!m_options.exportFile.isEmpty()) {
            const QString path = m_channels.size() > 1
                                     ? exportPathFor(m_options.exportFile, channel.item->name())
                                     : m_options.exportFile;
            DataModel rows;
            rows.setStore(&channel.item->readings());
            const itemexport::Result result = itemexport::write(path, rows, m_recording->judge());
            rows.clear();
            if (result.ok) {
                m_recording->noteExported(channel.item, result.written);
                exported = tr("exported to %1").arg(QFileInfo(path).absoluteFilePath());
            } else {
                fail(tr("the export to %1 failed: %2").arg(path, result.error));
                status = FailureStatus;
                exported = tr("export failed");
            }
        }
        summary << tr("%1 readings in %2 s into %3; %4")
                       .arg(channel.item->dataCount())
                       .arg(seconds, 0, 'f', 1)
                       .arg(channel.item->name(), exported);
    }
    m_recording->closeNormally();
    // What the broker has not acknowledged by now waits in the journal.
    summary.last() += drainPublishing();
    for (const QString &line : qAsConst(summary))
        printLine(stdout, line);
    return status;
}

int listMeters(const QString &applicationDir, const QString &driverFolder)
{
    Recording recording(QStringLiteral("Store Data"), QStringLiteral("Live Data"));
    recording.bindDrivers(applicationDir, driverFolder);
    for (const QString &line : recording.catalogue()->listLines())
        printLine(stdout, line);
    return 0;
}
