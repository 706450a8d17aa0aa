#pragma once

#include "itemchartsource.h"
#include "itemdata.h"
#include "journaloptions.h"
#include "recording.h"
#include "startoptions.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QModelIndex>
#include <QPointer>
#include <QSet>

#include <memory>
#include <optional>
#include <unordered_map>

class DataModel;
class DlgDownload;
class DmmData;
class ItemChartSource;
class Journal;
struct JournalSession;
class MeterDeviceWatcher;
class MeterLink;
class QAction;
class Prompt;
class Publisher;
class QLabel;
class QStandardItem;
class ReadingStore;
class QTimer;
class TvItemModel;

namespace Ui {
class Widget;
}
namespace analysis {
class Judge;
struct Sample;
} // namespace analysis

// The main window: the view and controller of a recording (the recording core:
// its item tree, its meter and its journal). It owns the form, the tree's rows
// and the reading table model, which follow the core's signals. Its operations
// are spread over one source file per group (connection, items, intake,
// download, clock, export, import, settings).
class Widget : public QMainWindow
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    // Builds the window against another application folder (plugins in
    // <applicationDir>/Lib, options.xml beside them) and another prompt,
    // without a recording journal (windows made by the dozen leave no
    // sessions behind).
    Widget(const QString &applicationDir, std::unique_ptr<Prompt> prompt,
           QWidget *parent = nullptr);
    // The same with the recording journal as given (the plain constructor
    // takes JournalOptions::fromSettings()).
    Widget(const QString &applicationDir, std::unique_ptr<Prompt> prompt,
           const JournalOptions &journal, QWidget *parent = nullptr);
    // The same, started as the command line asks: drivers from another folder,
    // a file to import once the event loop runs, the journal as given.
    Widget(const QString &applicationDir, const StartOptions &options,
           std::unique_ptr<Prompt> prompt, QWidget *parent = nullptr);
    ~Widget() override;

    // Read-only views of the state, for tests and diagnostics.
    bool isAcquiring() const;
    ItemData *activeItemData() const { return m_recording->tree().active(); }
    QString sceneFile() const { return sceneFileName; }
    QString settingsFilePath() const;
    bool pluginsComplete() const;
    DataModel *readingModel() const { return dataModel.get(); }
    // The recording journal; null when it is off or could not be opened.
    Journal *journal() const { return m_recording->journal(); }
    Recording &recording() const { return *m_recording; }
    TvItemModel *treeModel() const { return itemModel; }
    Prompt *prompt() const { return m_prompt.get(); }
    void setPrompt(std::unique_ptr<Prompt> prompt);
    // How long the export dispatcher lets the event loop run before exporting.
    void setEventPassMs(int ms) { m_eventPassMs = ms; }
    // References and limits, and how readings are judged against them.
    const analysis::Judge &judge() const;
    // How long a report runs before its progress dialog shows.
    void setProgressDelayMs(int ms) { m_progressDelayMs = ms; }
    // Imports fileName into a new item as the Import action does after its
    // file dialog, with the same messages.
    void importFile(const QString &fileName);

signals:
    void updateDowndPos(int total, int pos);

private slots:
    void initObj();
    bool loadPlugins();
    void initConnec();
    void initWidget();
    void initSelf();
    void saveSettings();
    void restoreSettings();
    void newItem(QString name, ItemData::DataType type);
    void slotAction();
    void slotDmmOpened();
    void slotDmmClosed();
    void slotUSBRefreshed();
    void on_actionManual_triggered();
    void on_actionItemNew_triggered();
    void on_actionItemDelete_triggered();
    void on_actionItemRename_triggered();
    void on_actionItemSetToActive_triggered();
    void on_actionItemDownload_triggered();
    void on_actionStart_triggered();
    void on_actionStop_triggered();
    void on_actionExport_triggered();
    void on_actionImport_triggered();
    void on_cbbChartUnit_currentTextChanged(QString text);
    void on_actionSyncTime_triggered();
    void itemSetToActive(QModelIndex index);
    void on_tvItems_activated(QModelIndex index);
    void slotItemModeleditDataChanged(QModelIndex index);
    void slotCurrentRowChanged(QModelIndex current, QModelIndex previous);
    void slotDmmDisplay(const DmmData *data);
    void slotStoreNum(int total, int num);
    void slotDisplayStore(const DmmData *data);
    void slotSyncTime(QDateTime dt);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *obj, QEvent *event) override;

private:
    void construct();
    void refreshViews();
    void scrollTableToBottom();
    void resetAcquisition();
    void applyChartUnitMode(const QString &unit);
    MeterLink *meter() const { return m_recording->meter(); }
    bool converterPresent() const;
    bool dmmIsOpen() const;
    bool activeItemIsMeasurement() const;
    bool startAllowed() const;
    QString firstFreeMeasureName() const;
    ItemData *storeItem() const;
    QList<QAction *> actionsForRow(const QModelIndex &index) const;
    QStringList itemNames() const;
    // The tree's rows follow the core's item tree.
    void itemCreated(ItemData *item);
    void itemRenamed(ItemData *item);
    void itemAboutToBeDeleted(ItemData *item);
    void activeItemChanged(ItemData *item);
    void itemReadingsAppended(ItemData *item, int count);
    void itemReadingsReplaced(ItemData *item);
    QModelIndex rowOf(const ItemData *item) const;
    void makeCurrent(const QModelIndex &index);
    bool showsItem(const ItemData *item) const;
    // Readings were added to the active item: show them now or, in a burst,
    // together a little later.
    void readingsArrived();
    // Brings the table, the chart and the reading panel up to the active item.
    void syncViews();
    void syncViewsForReadings();
    void showOnPanel(const ReadingStore &store, int index);
    void exportSpreadsheet();
    void exportXlsx();
    void exportPdf();
    void exportChartPicture();
    void importSpreadsheet();
    void delayMs(int ms);
    // Loss, statistics and limits (analysis.cpp); CSV files (csvfiles.cpp).
    void initAnalysis();
    // The active item's newest reading as the analysis sees it; none when
    // there is no active item or it has no reading.
    std::optional<analysis::Sample> newestReading() const;
    void setReference();
    void clearReference();
    void editLimits();
    void judgeChanged();
    void showLimitsOnChart();
    void showAnalysisOnPanel(const ReadingStore &store, int index);
    void showPanelJudgement();
    void scheduleStatistics();
    void updateStatistics();
    void exportCsv();
    void importCsv(const QString &fileName);

    // Meters (meters.cpp): the chosen one, further ones, all recording together.
    void initMeters();
    bool severalMeters() const;
    bool anyMeterOpen() const;
    void selectMeter();
    void addMeter();
    // Makes the meter meterId names the chosen one and binds the window to it.
    bool selectPrimaryMeter(const QString &meterId, const MeterOptions &options, QString *problem);
    void bindPrimaryMeter();
    void bindMeterSignals(MeterLink *link);
    // The item of a meter's own, made when first needed.
    ItemData *meterItem(MeterLink *link);
    void startMeter(MeterLink *link);
    void startAllMeters();
    void stopAllMeters();
    void updateMeterActions();

    // Items compared in the chart (overlays.cpp).
    void initOverlays();
    bool isShownInChart(const ItemData *item) const;
    void setShownInChart(ItemData *item, bool shown);
    void refreshOverlays();
    void updateChartCheckBoxes();
    void overlayReadingsAppended(const ItemData *item);
    void overlayUnitChanged(const QString &unit);
    void forgetOverlay(const ItemData *item);

    // The recording journal (journalling.cpp): the core keeps it; the window
    // says what happened to it and reopens past recordings.
    void initJournal();
    void journalRestored(const Recording::JournalStart &start);
    // One warning of each kind (JournalWarning in journalling.cpp) a run.
    void journalWarning(int kind, const QString &text);
    // The status bar's lblJournalState while the journal is not recording.
    void showJournalState();
    // rowsWritten: the table rows the file holds, from the first on.
    void noteActiveItemExported(int rowsWritten);
    // Readings recorded or downloaded and never exported, and in how many items.
    qint64 unexportedReadings(int *itemCount) const;
    bool confirmCloseWithUnexportedReadings();
    void showRecentRecordings();
    void reopenJournalSession(JournalSession &session);
    QString readingsInItems(qint64 readings, int items) const;

    // Publishing to a broker (publishing.cpp): File > Publishing..., the
    // status bar's lblPublishing, the publisher started with the options.
    void initPublishing();
    void startPublishing(const PublishOptions &options);
    void editPublishing();
    void showPublishingState();
    // The publisher judges readings as the window does.
    void publishJudge();

    // The recording this window shows and drives; it outlives the form.
    std::unique_ptr<Recording> m_recording;
    std::unique_ptr<Ui::Widget> ui;
    std::unique_ptr<Prompt> m_prompt;
    QString m_applicationDir;
    StartOptions m_startOptions;
    QString m_missingInterfaces;
    QString m_scannedDirectory;
    int m_eventPassMs = 300;
    int m_progressDelayMs = 1000;
    QTimer *m_scrollTimer = nullptr;
    QTimer *m_viewSyncTimer = nullptr;
    QElapsedTimer m_sinceViewSync;
    bool m_panelPending = false;
    // The active item's readings as the chart's points.
    std::unique_ptr<ItemChartSource> m_chartSource;
    // The download dialog while it is up, so that a closing link ends it.
    QPointer<DlgDownload> m_downloadDialog;
    bool m_settingsRestored = false;

    std::unique_ptr<DataModel> dataModel;
    TvItemModel *itemModel = nullptr;
    QStandardItem *liveGroupItem = nullptr;
    QIcon measureIcon;
    QString sceneFileName;
    QHash<const ItemData *, QStandardItem *> m_rows; // the tree's row of each item

    QAction *m_selectMeterAction = nullptr;
    QAction *m_addMeterAction = nullptr;
    MeterDeviceWatcher *m_deviceWatcher = nullptr;
    MeterOptions m_meterOptions;
    QHash<const MeterLink *, ItemData *> m_meterItems; // each meter's own item
    bool m_recordingAll = false;                       // Start was given to several meters

    QAction *m_showInChartAction = nullptr;
    QSet<const ItemData *> m_shownInChart;
    std::unordered_map<const ItemData *, std::unique_ptr<ItemChartSource>> m_overlaySources;
    bool m_updatingChecks = false;
    int m_journalWarned = 0; // JournalWarning bits
    QLabel *m_journalState = nullptr;
    QString m_journalOffReason; // why the journal could not be opened
    std::unique_ptr<Publisher> m_publisher;
    PublishOptions m_publishing; // as last set
    QLabel *m_publishingState = nullptr;

    // Loss, statistics and limits (analysis.cpp). Declared last so that it is
    // destroyed first, with its connections to the items above.
    struct Analysis;
    struct AnalysisDeleter
    {
        void operator()(Analysis *analysis) const;
    };
    std::unique_ptr<Analysis, AnalysisDeleter> m_analysis;
};
