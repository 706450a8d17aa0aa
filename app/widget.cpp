#include "widget.h"

#include "datamodel.h"
#include "dmmchart.h"
#include "itemchartsource.h"
#include "kv930version.h"
#include "meterlink.h"
#include "prompt.h"
#include "publisher.h"
#include "termination.h"
#include "tvitemmodel.h"
#include "widgetform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

namespace {
StartOptions journalOnly(const JournalOptions &journal)
{
    StartOptions options;
    options.journal = journal;
    return options;
}
} // namespace

Widget::Widget(QWidget *parent)
    : Widget(QCoreApplication::applicationDirPath(), std::make_unique<Prompt>(),
             JournalOptions::fromSettings(), parent)
{
}

Widget::Widget(const QString &applicationDir, std::unique_ptr<Prompt> prompt, QWidget *parent)
    : Widget(applicationDir, StartOptions(), std::move(prompt), parent)
{
}

Widget::Widget(const QString &applicationDir, std::unique_ptr<Prompt> prompt,
               const JournalOptions &journal, QWidget *parent)
    : Widget(applicationDir, journalOnly(journal), std::move(prompt), parent)
{
}

Widget::Widget(const QString &applicationDir, const StartOptions &options,
               std::unique_ptr<Prompt> prompt, QWidget *parent)
    : QMainWindow(parent),
      m_recording(std::make_unique<Recording>(tr("Store Data"), tr("Live Data"))),
      ui(std::make_unique<Ui::Widget>()), m_prompt(std::move(prompt)),
      m_applicationDir(applicationDir), m_startOptions(options),
      m_chartSource(std::make_unique<ItemChartSource>())
{
    if (!m_prompt)
        m_prompt = std::make_unique<Prompt>();
    construct();
}

void Widget::construct()
{
    ui->setupUi(this);

    if (!loadPlugins()) {
        // Without all four interfaces the meter cannot be driven: say which are
        // missing and where we looked, then leave once the event loop runs,
        // with a status that tells a calling script the start failed.
        const QString text =
            tr("The meter driver is incomplete: %1 not found in %2.")
                .arg(m_missingInterfaces, QDir::toNativeSeparators(m_scannedDirectory));
        qCritical("%s", qPrintable(text));
        QTimer::singleShot(0, this, [this, text] {
            m_prompt->critical(this, text);
            QCoreApplication::exit(EXIT_FAILURE);
        });
    }
    initObj();
    initWidget();
    initSelf();
    initConnec();
    initOverlays();
    initMeters();
    initAnalysis();
    initJournal();
    initPublishing();

    // A file named on the command line is imported once the window is up,
    // unless the program is about to leave for want of drivers.
    if (!m_startOptions.importFile.isEmpty() && pluginsComplete()) {
        const QString file = m_startOptions.importFile;
        QTimer::singleShot(0, this, [this, file] { importFile(file); });
    }
}

Widget::~Widget()
{
    for (MeterLink *link : m_recording->meters())
        link->close();
    // The recording outlives the form: nothing of it may reach the window any
    // more, and the views let go of its readings first.
    m_recording->disconnect(this);
    m_recording->tree().disconnect(this);
    for (MeterLink *link : m_recording->meters())
        link->disconnect(this);
    dataModel->clear();
    ui->chart->clearPoints();
    ui.reset();
}

void Widget::setPrompt(std::unique_ptr<Prompt> prompt)
{
    if (prompt)
        m_prompt = std::move(prompt);
}

void Widget::initObj()
{
    dataModel = std::make_unique<DataModel>();
}

void Widget::initWidget()
{
    QTableView *tv = ui->tv;
    tv->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    tv->horizontalHeader()->setSectionsClickable(false);
    tv->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Scrolled by pixels: scrolled by rows, every row added makes Qt's vertical
    // header work out the position of every row again (tens of milliseconds
    // at 10^7 rows) before the table follows the newest row. The table looks
    // the same, with the newest row at the bottom edge.
    tv->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    tv->setModel(dataModel.get());
    const int widths[] = {80, 150, 100, 80, 100};
    for (int column = 0; column < 5; ++column)
        tv->setColumnWidth(column, widths[column]);
    ui->tvItems->installEventFilter(this);
    tv->installEventFilter(this);
    // Scrolling lays the table out at once, at a cost that grows with its rows;
    // nothing is painted before the event loop runs, so one scroll per turn of
    // the loop shows the same newest row for a burst of readings.
    m_scrollTimer = new QTimer(this);
    m_scrollTimer->setSingleShot(true);
    m_scrollTimer->setInterval(0);
    connect(m_scrollTimer, &QTimer::timeout, tv, &QTableView::scrollToBottom);
    m_viewSyncTimer = new QTimer(this);
    m_viewSyncTimer->setSingleShot(true);
    connect(m_viewSyncTimer, &QTimer::timeout, this, &Widget::syncViewsForReadings);

    ui->actionConnect->setEnabled(converterPresent());

    QMenu *fileMenu = ui->menuBar->addMenu(tr("&File"));
    fileMenu->addAction(ui->actionConnect);
    fileMenu->addAction(ui->actionDisconnect);
    fileMenu->addAction(ui->actionStart);
    fileMenu->addAction(ui->actionStop);
    fileMenu->addSeparator();
    fileMenu->addAction(ui->actionImport);
    fileMenu->addAction(ui->actionExport);
    fileMenu->addSeparator();
    fileMenu->addAction(ui->actionClose);
    QMenu *helpMenu = ui->menuBar->addMenu(tr("&Help"));
    helpMenu->addAction(ui->actionManual);

    measureIcon = QIcon(QStringLiteral(":/image/measure.png"));

    itemModel = new TvItemModel(this);
    itemModel->setHorizontalHeaderLabels({tr("Name")});
    ui->tvItems->setModel(itemModel);
    QStandardItem *root = itemModel->invisibleRootItem();

    // The group rows carry the core's group items; the rows below Live Data
    // come and go with the core's items.
    ItemTree &tree = m_recording->tree();
    ItemData *store = tree.storeItem();
    auto *storeRow = new QStandardItem(QIcon(QStringLiteral(":/image/rom.png")), store->name());
    storeRow->setData(QVariant::fromValue(store), ItemDataRole);
    root->appendRow(storeRow);
    m_rows.insert(store, storeRow);

    ItemData *live = tree.liveGroup();
    liveGroupItem = new QStandardItem(QIcon(QStringLiteral(":/image/live.png")), live->name());
    liveGroupItem->setData(QVariant::fromValue(live), ItemDataRole);
    root->appendRow(liveGroupItem);

    connect(&tree, &ItemTree::itemCreated, this, &Widget::itemCreated);
    connect(&tree, &ItemTree::itemRenamed, this, &Widget::itemRenamed);
    connect(&tree, &ItemTree::itemAboutToBeDeleted, this, &Widget::itemAboutToBeDeleted);
    connect(&tree, &ItemTree::activeChanged, this, &Widget::activeItemChanged);
    connect(&tree, &ItemTree::readingsAppended, this, &Widget::itemReadingsAppended);
    connect(&tree, &ItemTree::readingsReplaced, this, &Widget::itemReadingsReplaced);

    ItemData *first = tree.createItem(QStringLiteral("Measure%1").arg(1), ItemData::Measure);
    ui->tvItems->expandAll();
    const QModelIndex firstIndex = rowOf(first);
    itemSetToActive(firstIndex);
    makeCurrent(firstIndex);

    ui->tabWidget->setStyleSheet(QStringLiteral("QTabBar::tab{min-width:100px}"));
    ui->tabWidget->setTabText(0, tr("Table"));
    ui->tabWidget->setTabText(1, tr("Chart"));
    ui->tabWidget->setTabIcon(0, QIcon(QStringLiteral(":/image/table.png")));
    ui->tabWidget->setTabIcon(1, QIcon(QStringLiteral(":/image/chart.png")));
    ui->tabWidget->setCurrentIndex(0);

    ui->chart->setLeftMargin(70);
    ui->chart->setBottomMargin(68);
    ui->chart->setXAxisTitle(tr("Date Time"));
    applyChartUnitMode(ui->cbbChartUnit->currentText());
    ui->lcdUnit->clear();

    auto *spacer = new QWidget(ui->mainToolBar);
    spacer->setObjectName(QStringLiteral("toolBarSpacer"));
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ui->mainToolBar->insertWidget(ui->actionClose, spacer);
}

void Widget::scrollTableToBottom()
{
    if (!m_scrollTimer->isActive())
        m_scrollTimer->start();
}

void Widget::initSelf()
{
    setWindowTitle(
        QStringLiteral("%1 v%2 ").arg(QStringLiteral("KV930"), QStringLiteral(KV930_VERSION)));
    resize(1000, 600);
    // The whole desktop, across all screens, as Qt 5's desktop widget had it.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->virtualGeometry() : QRect(0, 0, width(), height());
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
}

void Widget::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Only the first show: un-minimising must keep the layout the user made since.
    if (!m_settingsRestored) {
        m_settingsRestored = true;
        restoreSettings();
    }
}

void Widget::closeEvent(QCloseEvent *event)
{
    // A log-out or shutdown (a termination signal) must not wait on a
    // question. Readings never exported then stay in the journal's session,
    // left open so that the next start brings them back; only without a
    // journal to keep them is the question still asked.
    const bool keepInJournal = terminationSignalReceived() && m_recording->journalRecording() &&
                               m_recording->unexportedReadings() > 0;
    if (!keepInJournal && !confirmCloseWithUnexportedReadings()) {
        event->ignore();
        return;
    }
    for (MeterLink *link : m_recording->meters())
        link->close();
    saveSettings();
    QMainWindow::closeEvent(event);
    if (keepInJournal)
        m_recording->keepForNextStart();
    else
        m_recording->closeNormally();
}

bool Widget::eventFilter(QObject *obj, QEvent *event)
{
    if (event->type() == QEvent::ContextMenu) {
        if (obj->objectName() == QLatin1String("tv"))
            return false;
        if (obj == ui->tvItems) {
            const QModelIndex current = ui->tvItems->currentIndex();
            if (current.isValid()) {
                auto *menu = new QMenu(this);
                menu->setObjectName(QStringLiteral("itemContextMenu"));
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->addActions(actionsForRow(current));
                ItemData *item = TvItemModel::itemDataAt(current);
                if (m_showInChartAction && item && current.parent().isValid() &&
                    item != activeItemData()) {
                    menu->addSeparator();
                    m_showInChartAction->setChecked(isShownInChart(item));
                    menu->addAction(m_showInChartAction);
                }
                menu->exec(static_cast<QContextMenuEvent *>(event)->globalPos());
            }
        }
    }
    return QMainWindow::eventFilter(obj, event);
}

void Widget::on_actionManual_triggered()
{
    // The manual is looked up in the working folder first, then beside the program.
    const QString name = QStringLiteral("Software User Manual.pdf");
    QString path = QDir::current().absoluteFilePath(name);
    if (!QFileInfo::exists(path))
        path = QDir(m_applicationDir).absoluteFilePath(name);
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
