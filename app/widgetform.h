#pragma once

#include <QtWidgets>

class DMMChart;

namespace Ui {

// The main window's form, built in code the way the form compiler lays one
// out: every control is a member under its object name, setupUi() builds and
// lays them out, retranslateUi() sets every user-visible text.
class Widget
{
public:
    QAction *actionConnect = nullptr;
    QAction *actionDisconnect = nullptr;
    QAction *actionClose = nullptr;
    QAction *actionStart = nullptr;
    QAction *actionStop = nullptr;
    QAction *actionManual = nullptr;
    QAction *actionItemNew = nullptr;
    QAction *actionItemDelete = nullptr;
    QAction *actionItemRename = nullptr;
    QAction *actionItemSetToActive = nullptr;
    QAction *actionItemDownload = nullptr;
    QAction *actionExport = nullptr;
    QAction *actionImport = nullptr;
    QAction *actionSyncTime = nullptr;

    QWidget *centralWidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    QSplitter *splitter_2 = nullptr;
    QWidget *widget_2 = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QFrame *lcd = nullptr;
    QGridLayout *gridLayout_3 = nullptr;
    QLabel *lcdBasis = nullptr;
    QLabel *lcdValue = nullptr;
    QLabel *lcdUnit = nullptr;
    QWidget *widget_3 = nullptr;
    QLabel *lcdDmmDatetime = nullptr;
    QLabel *lcdWaveLen = nullptr;
    QToolBar *itemToolBar = nullptr;
    QTreeView *tvItems = nullptr;
    QWidget *widget = nullptr;
    QGridLayout *gridLayout_4 = nullptr;
    QSplitter *splitter = nullptr;
    QTabWidget *tabWidget = nullptr;
    QWidget *tab = nullptr;
    QGridLayout *gridLayout_5 = nullptr;
    QTableView *tv = nullptr;
    QWidget *tabChart = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QFrame *frame = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QLabel *label = nullptr;
    QComboBox *cbbChartUnit = nullptr;
    DMMChart *chart = nullptr;
    QMenuBar *menuBar = nullptr;
    QToolBar *mainToolBar = nullptr;
    QStatusBar *statusBar = nullptr;

    // Loss, statistics and limits (analysisform.cpp).
    QAction *actionSetReference = nullptr;
    QAction *actionClearReference = nullptr;
    QAction *actionLimits = nullptr;
    QMenu *menuAnalysis = nullptr;
    QLabel *lcdLoss = nullptr;
    QLabel *lcdVerdict = nullptr;
    QGroupBox *gbStatistics = nullptr;
    QCheckBox *cbValidRange = nullptr;
    QScrollArea *saStatistics = nullptr;
    QVBoxLayout *columnStatistics = nullptr;
    QLabel *statCount = nullptr;
    QLabel *statMin = nullptr;
    QLabel *statAvg = nullptr;
    QLabel *statMax = nullptr;
    QLabel *statSpan = nullptr;
    QLabel *statStd = nullptr;
    QLabel *statDrift = nullptr;
    QLabel *statOutOfLimits = nullptr;

    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
    void setupAnalysisUi(QMainWindow *window);
    void retranslateAnalysisUi();
};

} // namespace Ui
