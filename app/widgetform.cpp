#include "widgetform.h"

#include "dmmchart.h"

namespace Ui {

namespace {
QAction *makeAction(QMainWindow *window, const char *objectName, const char *iconPath)
{
    auto *action = new QAction(window);
    action->setObjectName(QLatin1String(objectName));
    QIcon icon;
    icon.addFile(QLatin1String(iconPath), QSize(), QIcon::Normal, QIcon::Off);
    action->setIcon(icon);
    return action;
}
} // namespace

void Widget::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("Widget"));

    actionConnect = makeAction(window, "actionConnect", ":/image/connect.png");
    actionDisconnect = makeAction(window, "actionDisconnect", ":/image/disconnect.png");
    actionClose = makeAction(window, "actionClose", ":/image/exit.png");
    actionStart = makeAction(window, "actionStart", ":/image/play.png");
    actionStop = makeAction(window, "actionStop", ":/image/stop.png");
    actionManual = makeAction(window, "actionManual", ":/image/help.png");
    actionItemNew = makeAction(window, "actionItemNew", ":/image/new.png");
    actionItemDelete = makeAction(window, "actionItemDelete", ":/image/delete.png");
    actionItemRename = makeAction(window, "actionItemRename", ":/image/rename.png");
    actionItemSetToActive = makeAction(window, "actionItemSetToActive", ":/image/active.png");
    actionItemDownload = makeAction(window, "actionItemDownload", ":/image/pcdownload.png");
    actionExport = makeAction(window, "actionExport", ":/image/export.png");
    actionImport = makeAction(window, "actionImport", ":/image/import.png");
    actionSyncTime = makeAction(window, "actionSyncTime", ":/image/sync.png");
    // Until the meter link says otherwise, nothing that needs it can be used.
    actionConnect->setEnabled(false);
    actionDisconnect->setEnabled(false);
    actionStart->setEnabled(false);
    actionStop->setEnabled(false);
    actionSyncTime->setEnabled(false);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    gridLayout = new QGridLayout(centralWidget);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    splitter_2 = new QSplitter(centralWidget);
    splitter_2->setObjectName(QStringLiteral("splitter_2"));
    splitter_2->setOrientation(Qt::Horizontal);
    splitter_2->setHandleWidth(3);

    // Left pane: reading panel, item tool bar, item tree.
    widget_2 = new QWidget(splitter_2);
    widget_2->setObjectName(QStringLiteral("widget_2"));
    QSizePolicy leftPolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    leftPolicy.setHorizontalStretch(2);
    widget_2->setSizePolicy(leftPolicy);
    widget_2->setMinimumWidth(80);
    gridLayout_2 = new QGridLayout(widget_2);
    gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));

    lcd = new QFrame(widget_2);
    lcd->setObjectName(QStringLiteral("lcd"));
    lcd->setMinimumWidth(100);
    lcd->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255,255)"));
    lcd->setFrameShape(QFrame::StyledPanel);
    gridLayout_3 = new QGridLayout(lcd);
    gridLayout_3->setObjectName(QStringLiteral("gridLayout_3"));
    gridLayout_3->setVerticalSpacing(12);
    lcdBasis = new QLabel(lcd);
    lcdBasis->setObjectName(QStringLiteral("lcdBasis"));
    lcdBasis->setMinimumWidth(10);
    lcdBasis->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    gridLayout_3->addWidget(lcdBasis, 1, 2);
    lcdValue = new QLabel(lcd);
    lcdValue->setObjectName(QStringLiteral("lcdValue"));
    lcdValue->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QFont valueFont;
    valueFont.setPointSize(16);
    valueFont.setWeight(QFont::Bold); // weight 75 on Qt 5's scale
    lcdValue->setFont(valueFont);
    lcdValue->setAlignment(Qt::AlignCenter);
    gridLayout_3->addWidget(lcdValue, 2, 0);
    lcdUnit = new QLabel(lcd);
    lcdUnit->setObjectName(QStringLiteral("lcdUnit"));
    // Wide enough for the longest unit, so the layout never clips "dBm".
    lcdUnit->setMinimumWidth(
        qMax(10, lcdUnit->fontMetrics().horizontalAdvance(QStringLiteral("dBm")) + 2));
    gridLayout_3->addWidget(lcdUnit, 2, 2);
    widget_3 = new QWidget(lcd);
    widget_3->setObjectName(QStringLiteral("widget_3"));
    gridLayout_3->addWidget(widget_3, 3, 0);
    lcdDmmDatetime = new QLabel(lcd);
    lcdDmmDatetime->setObjectName(QStringLiteral("lcdDmmDatetime"));
    gridLayout_3->addWidget(lcdDmmDatetime, 5, 0, 1, 3);
    lcdWaveLen = new QLabel(lcd);
    lcdWaveLen->setObjectName(QStringLiteral("lcdWaveLen"));
    gridLayout_3->addWidget(lcdWaveLen, 6, 0, 1, 3);
    gridLayout_2->addWidget(lcd, 0, 0);

    itemToolBar = new QToolBar(widget_2);
    itemToolBar->setObjectName(QStringLiteral("itemToolBar"));
    itemToolBar->setIconSize(QSize(16, 16));
    itemToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    itemToolBar->setFloatable(true);
    // Row 1 holds the statistics under the reading panel (setupAnalysisUi).
    gridLayout_2->addWidget(itemToolBar, 2, 0);

    tvItems = new QTreeView(widget_2);
    tvItems->setObjectName(QStringLiteral("tvItems"));
    tvItems->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvItems->setAnimated(true);
    tvItems->header()->setVisible(false);
    tvItems->header()->setStretchLastSection(true);
    gridLayout_2->addWidget(tvItems, 3, 0);
    splitter_2->addWidget(widget_2);

    // Right pane: the Table and Chart tabs.
    widget = new QWidget(splitter_2);
    widget->setObjectName(QStringLiteral("widget"));
    QSizePolicy rightPolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    rightPolicy.setHorizontalStretch(8);
    widget->setSizePolicy(rightPolicy);
    gridLayout_4 = new QGridLayout(widget);
    gridLayout_4->setObjectName(QStringLiteral("gridLayout_4"));
    splitter = new QSplitter(widget);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->setOrientation(Qt::Vertical);
    splitter->setHandleWidth(3);
    tabWidget = new QTabWidget(splitter);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    QSizePolicy tabPolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    tabPolicy.setVerticalStretch(7);
    tabWidget->setSizePolicy(tabPolicy);
    tabWidget->setStyleSheet(QStringLiteral("QTabBar::tab{min-width:100px}"));

    tab = new QWidget();
    tab->setObjectName(QStringLiteral("tab"));
    gridLayout_5 = new QGridLayout(tab);
    gridLayout_5->setObjectName(QStringLiteral("gridLayout_5"));
    tv = new QTableView(tab);
    tv->setObjectName(QStringLiteral("tv"));
    gridLayout_5->addWidget(tv, 0, 0);
    tabWidget->addTab(tab, QIcon(QStringLiteral(":/image/table.png")), QString());

    tabChart = new QWidget();
    tabChart->setObjectName(QStringLiteral("tabChart"));
    verticalLayout = new QVBoxLayout(tabChart);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    frame = new QFrame(tabChart);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    horizontalLayout = new QHBoxLayout(frame);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    label = new QLabel(frame);
    label->setObjectName(QStringLiteral("label"));
    horizontalLayout->addWidget(label);
    cbbChartUnit = new QComboBox(frame);
    cbbChartUnit->setObjectName(QStringLiteral("cbbChartUnit"));
    cbbChartUnit->setMinimumWidth(60);
    cbbChartUnit->addItems({QStringLiteral("uW"), QStringLiteral("mW"), QStringLiteral("dBm")});
    horizontalLayout->addWidget(cbbChartUnit);
    verticalLayout->addWidget(frame);
    chart = new DMMChart(tabChart);
    chart->setObjectName(QStringLiteral("chart"));
    chart->setFrameShape(QFrame::StyledPanel);
    chart->setFrameShadow(QFrame::Sunken);
    chart->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    verticalLayout->addWidget(chart);
    tabWidget->addTab(tabChart, QIcon(QStringLiteral(":/image/chart.png")), QString());
    splitter->addWidget(tabWidget);
    gridLayout_4->addWidget(splitter, 0, 0);
    splitter_2->addWidget(widget);
    gridLayout->addWidget(splitter_2, 0, 0);
    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    window->setMenuBar(menuBar);
    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    mainToolBar->setIconSize(QSize(16, 16));
    mainToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    mainToolBar->setFloatable(true);
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);
    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);

    mainToolBar->addAction(actionConnect);
    mainToolBar->addAction(actionDisconnect);
    mainToolBar->addSeparator();
    mainToolBar->addAction(actionStart);
    mainToolBar->addAction(actionStop);
    mainToolBar->addSeparator();
    mainToolBar->addAction(actionSyncTime);
    mainToolBar->addSeparator();
    mainToolBar->addAction(actionExport);
    mainToolBar->addAction(actionImport);
    mainToolBar->addSeparator();
    mainToolBar->addAction(actionClose);

    setupAnalysisUi(window);
    retranslateUi(window);
    tabWidget->setCurrentIndex(0);
    cbbChartUnit->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(window);
}

void Widget::retranslateUi(QMainWindow *window)
{
    auto tr = [](const char *text) { return QCoreApplication::translate("Widget", text); };
    window->setWindowTitle(tr("Widget"));
    actionConnect->setText(tr("Connect"));
    actionDisconnect->setText(tr("&Disconnect"));
    actionClose->setText(tr("C&lose"));
    actionStart->setText(tr("Start"));
    actionStop->setText(tr("Stop"));
    actionManual->setText(tr("&Manual"));
    actionItemNew->setText(tr("New"));
    actionItemDelete->setText(tr("Delete"));
    actionItemRename->setText(tr("Rename"));
    actionItemSetToActive->setText(tr("Set to active"));
    actionItemDownload->setText(tr("Download"));
    actionExport->setText(tr("Export"));
    actionImport->setText(tr("Import"));
    actionSyncTime->setText(tr("Sync Time"));
    lcdBasis->clear();
    lcdValue->setText(QStringLiteral("00000"));
    lcdUnit->clear();
    lcdDmmDatetime->clear();
    lcdWaveLen->clear();
    itemToolBar->setWindowTitle(tr("Item Tool"));
    label->setText(tr("Unit"));
    tabWidget->setTabText(tabWidget->indexOf(tab), tr("Table"));
    tabWidget->setTabText(tabWidget->indexOf(tabChart), tr("Chart"));
    mainToolBar->setWindowTitle(tr("Toolbar"));
    retranslateAnalysisUi();
}

} // namespace Ui
