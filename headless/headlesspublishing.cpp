// SPDX-License-Identifier: MIT
// Publishing from the headless recorder: the journal's readings go to the
// broker while recording, and at the end the recorder waits a while for the
// broker to acknowledge the rest.
#include "headlessrecorder.h"

#include "journal.h"
#include "publisher.h"
#include "recording.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

void HeadlessRecorder::startPublishing()
{
    if (!m_options.publishing.isEnabled())
        return;
    const Journal *journal = m_recording->journal();
    m_publisher = std::make_unique<Publisher>(m_options.publishing,
                                              journal ? journal->filePath() : QString());
    m_publisher->setJudge(m_recording->judge());
    // Each reason for not publishing once, on stderr, as other faults are.
    connect(m_publisher.get(), &Publisher::problem, this, [](const QString &message) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(message));
        std::fflush(stderr);
    });
}

QString HeadlessRecorder::drainPublishing()
{
    if (!m_publisher)
        return QString();
    // Everything recorded must be in the journal, the outbox, first.
    if (Journal *journal = m_recording->journal())
        journal->flush();
    if (m_options.drainSeconds > 0 && m_publisher->status().state != Publisher::State::Failed) {
        QEventLoop loop;
        m_drainLoop = &loop;
        connect(m_publisher.get(), &Publisher::drained, &loop, &QEventLoop::quit);
        QTimer::singleShot(int(m_options.drainSeconds * 1000), &loop, &QEventLoop::quit);
        m_publisher->requestDrain();
        loop.exec();
        m_drainLoop = nullptr;
    }
    const Publisher::Status status = m_publisher->status();
    const qint64 left = m_publisher->stop();
    if (status.state == Publisher::State::Failed)
        return tr("; not published (%1)").arg(status.message);
    return left < 0 ? tr("; publishing did not end in time")
                    : tr("; %1 readings left unpublished").arg(left);
}

void HeadlessRecorder::endDrain()
{
    if (m_drainLoop)
        m_drainLoop->quit();
}
