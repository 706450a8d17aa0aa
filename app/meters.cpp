// Choosing the meter and recording from several meters at once. The meters
// are the recording core's; the window offers File > Select Meter... and
// Add Meter..., keeps the choice in kv930.conf and drives Connect, Start and
// Stop for all of them. With one meter everything is as it always was.
#include "widget.h"

#include "dlgselectmeter.h"
#include "metercatalogue.h"
#include "meterlink.h"
#include "prompt.h"
#include "widgetform.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QSettings>
#include <QTimer>

#include <algorithm>

namespace {
const QString &meterGroup()
{
    static const QString group = QStringLiteral("meter");
    return group;
}
} // namespace

void Widget::initMeters()
{
    m_selectMeterAction = new QAction(tr("Select Meter..."), this);
    m_selectMeterAction->setObjectName(QStringLiteral("actionSelectMeter"));
    m_addMeterAction = new QAction(tr("Add Meter..."), this);
    m_addMeterAction->setObjectName(QStringLiteral("actionAddMeter"));
    // In the File menu after Disconnect.
    for (QWidget *holder : ui->actionDisconnect->associatedWidgets()) {
        if (auto *file = qobject_cast<QMenu *>(holder)) {
            const QList<QAction *> actions = file->actions();
            const int after = actions.indexOf(ui->actionDisconnect) + 1;
            QAction *before = after < actions.size() ? actions.at(after) : nullptr;
            file->insertAction(before, m_selectMeterAction);
            file->insertAction(before, m_addMeterAction);
            break;
        }
    }
    connect(m_selectMeterAction, &QAction::triggered, this, &Widget::selectMeter);
    connect(m_addMeterAction, &QAction::triggered, this, &Widget::addMeter);
    const bool haveDrivers = m_recording->catalogue() != nullptr;
    m_selectMeterAction->setEnabled(haveDrivers);
    m_addMeterAction->setEnabled(haveDrivers);
    if (!haveDrivers)
        return;

    // Meters come and go as device nodes do (USB-TMC, serial ports).
    m_deviceWatcher = new MeterDeviceWatcher(QStringLiteral("/dev"), this);
    connect(m_deviceWatcher, &MeterDeviceWatcher::devicesChanged, this, &Widget::slotUSBRefreshed);

    QString meterId = m_startOptions.meter;
    MeterOptions options = m_startOptions.meterOptions;
    if (meterId.isEmpty() && m_startOptions.rememberMeter) {
        QSettings settings(QStringLiteral("kv930"), QStringLiteral("kv930"));
        settings.beginGroup(meterGroup());
        meterId = settings.value(QStringLiteral("id")).toString();
        options.readingsPerSecond =
            settings.value(QStringLiteral("rate"), options.readingsPerSecond).toDouble();
        options.wavelengthNm = settings.value(QStringLiteral("wavelength"), 0).toInt();
    }
    m_meterOptions = options;
    if (meterId.isEmpty() || (meter() && meterId == meter()->meterId()))
        return;
    QString problem;
    if (!selectPrimaryMeter(meterId, options, &problem)) {
        // The KV930 driver set stays the meter; the user can choose again.
        const QString text = tr("The meter %1 cannot be used: %2").arg(meterId, problem);
        qWarning("%s", qPrintable(text));
        QTimer::singleShot(0, this, [this, text] { m_prompt->warning(this, text); });
        return;
    }
}

bool Widget::selectPrimaryMeter(const QString &meterId, const MeterOptions &options,
                                QString *problem)
{
    // The meter chosen before may stay bound in the core (the KV930 set
    // does): nothing it still says may reach the window's slots.
    QPointer<MeterLink> previous = meter();
    if (!m_recording->selectMeter(meterId, options, problem))
        return false;
    if (previous && previous != meter())
        previous->disconnect(this);
    bindPrimaryMeter();
    return true;
}

bool Widget::severalMeters() const
{
    return m_recording->meters().size() > 1;
}

void Widget::selectMeter()
{
    if (anyMeterOpen()) {
        m_prompt->information(this, tr("Disconnect the meter before choosing another one."));
        return;
    }
    DlgSelectMeter dialog(*m_recording->catalogue(), this);
    dialog.setWindowTitle(tr("Select Meter"));
    if (MeterLink *link = meter())
        dialog.setSelection(MeterId::fromString(link->meterId()), m_meterOptions);
    if (m_prompt->exec(dialog) != QDialog::Accepted)
        return;
    const QString meterId = dialog.meterId().toString();
    const MeterOptions options = dialog.options();
    QString problem;
    if (!selectPrimaryMeter(meterId, options, &problem)) {
        m_prompt->warning(this, tr("The meter %1 cannot be used: %2").arg(meterId, problem));
        return;
    }
    m_meterOptions = options;
    if (m_startOptions.rememberMeter) {
        QSettings settings(QStringLiteral("kv930"), QStringLiteral("kv930"));
        settings.beginGroup(meterGroup());
        settings.setValue(QStringLiteral("id"), meterId);
        settings.setValue(QStringLiteral("rate"), options.readingsPerSecond);
        settings.setValue(QStringLiteral("wavelength"), options.wavelengthNm);
    }
}

void Widget::bindPrimaryMeter()
{
    MeterLink *link = meter();
    if (!link)
        return;
    // The window's slots follow the chosen meter only.
    for (MeterLink *other : m_recording->meters())
        other->disconnect(this);
    bindMeterSignals(link);
    for (MeterLink *other : m_recording->meters()) {
        if (other != link)
            bindMeterSignals(other);
    }
    ui->actionItemDownload->setEnabled(link->hasStoredData());
    slotUSBRefreshed();
}

void Widget::bindMeterSignals(MeterLink *link)
{
    if (link == meter()) {
        connect(link, &MeterLink::opened, this, &Widget::slotDmmOpened);
        connect(link, &MeterLink::closed, this, &Widget::slotDmmClosed);
        connect(link, &MeterLink::presenceMayHaveChanged, this, &Widget::slotUSBRefreshed);
        connect(link, &MeterLink::storeProgress, this, &Widget::slotStoreNum);
    } else {
        connect(link, &MeterLink::opened, this, [this, link] {
            // A meter that comes up while the others record joins them.
            if (m_recordingAll)
                startMeter(link);
            updateMeterActions();
        });
        connect(link, &MeterLink::closed, this, &Widget::updateMeterActions);
    }
    // Recording can end without Stop (the link closed or failed, the item went).
    connect(link, &MeterLink::acquisitionChanged, this, [this](bool acquiring) {
        if (acquiring)
            return;
        if (severalMeters()) {
            updateMeterActions();
        } else {
            ui->actionStart->setEnabled(startAllowed());
            ui->actionStop->setEnabled(false);
        }
    });
    connect(link, &MeterLink::linkFailed, this, [this, link](const QString &message) {
        syncViews(); // every reading received stays shown
        // With several meters the message names the one that went.
        m_prompt->warning(
            this, severalMeters()
                      ? tr("The link of the meter %1 failed: %2").arg(link->meterId(), message)
                      : tr("The meter link failed: %1").arg(message));
    });
}

void Widget::addMeter()
{
    DlgSelectMeter dialog(*m_recording->catalogue(), this);
    dialog.setWindowTitle(tr("Add Meter"));
    if (m_prompt->exec(dialog) != QDialog::Accepted)
        return;
    const QString meterId = dialog.meterId().toString();
    QString problem;
    MeterLink *link = m_recording->addMeter(meterId, dialog.options(), &problem);
    if (!link) {
        m_prompt->warning(this, tr("The meter %1 cannot be added: %2").arg(meterId, problem));
        return;
    }
    bindMeterSignals(link);
    // Its readings go into an item of its own, shown in the chart beside the active one.
    ItemData *item = meterItem(link);
    setShownInChart(item, true);
    if (!link->isOpen() && !link->open())
        m_prompt->critical(this, tr("Failed to open device."));
    updateMeterActions();
}

ItemData *Widget::meterItem(MeterLink *link)
{
    ItemTree &tree = m_recording->tree();
    ItemData *item = m_meterItems.value(link);
    if (tree.holds(item))
        return item;
    // Named after the meter, and never like another item.
    item = tree.createItem(tree.freeName(link->itemName()), ItemData::Measure);
    tree.setItemMeter(item, link->meterId());
    m_meterItems.insert(link, item);
    return item;
}

void Widget::startMeter(MeterLink *link)
{
    if (!link->isOpen() || link->isAcquiring())
        return;
    // The chosen meter records into the active measurement item, unless that
    // is another meter's; every other meter into its own item.
    ItemData *target = nullptr;
    ItemData *active = activeItemData();
    const bool activeIsOthers =
        std::any_of(m_meterItems.cbegin(), m_meterItems.cend(), [&](const ItemData *item) {
            return item == active && m_meterItems.value(link) != item;
        });
    if (link == meter() && activeItemIsMeasurement() && !activeIsOthers) {
        target = active;
        m_meterItems.insert(link, target);
    } else {
        target = meterItem(link);
    }
    link->startAcquisition(target);
}

void Widget::startAllMeters()
{
    m_recordingAll = true;
    for (MeterLink *link : m_recording->meters())
        startMeter(link);
    updateMeterActions();
}

void Widget::stopAllMeters()
{
    m_recordingAll = false;
    for (MeterLink *link : m_recording->meters())
        link->stopAcquisition();
}

bool Widget::anyMeterOpen() const
{
    const QList<MeterLink *> &meters = m_recording->meters();
    return std::any_of(meters.cbegin(), meters.cend(),
                       [](const MeterLink *link) { return link->isOpen(); });
}

void Widget::updateMeterActions()
{
    if (!severalMeters())
        return;
    const QList<MeterLink *> &meters = m_recording->meters();
    auto any = [&meters](auto test) { return std::any_of(meters.cbegin(), meters.cend(), test); };
    const bool open = anyMeterOpen();
    ui->actionConnect->setEnabled(
        any([](const MeterLink *link) { return !link->isOpen() && link->isPresent(); }));
    ui->actionDisconnect->setEnabled(open);
    ui->actionStart->setEnabled(
        any([](const MeterLink *link) { return link->isOpen() && !link->isAcquiring(); }));
    ui->actionStop->setEnabled(any([](const MeterLink *link) { return link->isAcquiring(); }));
    ui->actionSyncTime->setEnabled(meter() && meter()->isOpen() && meter()->hasClock());
    if (!any([](const MeterLink *link) { return link->isAcquiring(); }))
        m_recordingAll = false;
    m_selectMeterAction->setEnabled(!open);
}
