// The main window as it opens, and the action states of the meter link.
#include "kv930resources.h"
#include "kv930version.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

class WindowTest : public QObject
{
    Q_OBJECT

private:
    QObject *fake = nullptr;

    static QStringList actionNames(const QList<QAction *> &actions)
    {
        QStringList names;
        for (QAction *a : actions)
            names << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
        return names;
    }
    struct States
    {
        bool connect, disconnect, start, stop, sync;
    };
    static void checkStates(const WindowOnFake &w, States s)
    {
        QCOMPARE(w.action("actionConnect")->isEnabled(), s.connect);
        QCOMPARE(w.action("actionDisconnect")->isEnabled(), s.disconnect);
        QCOMPARE(w.action("actionStart")->isEnabled(), s.start);
        QCOMPARE(w.action("actionStop")->isEnabled(), s.stop);
        QCOMPARE(w.action("actionSyncTime")->isEnabled(), s.sync);
    }
    void connectAndWait(WindowOnFake &w)
    {
        w.action("actionConnect")->trigger();
        QTRY_VERIFY(w.action("actionDisconnect")->isEnabled());
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        fake = fakeMeter();
        QVERIFY2(fake, "the fake meter fixture is missing");
    }
    void init() { resetFake(fake); }

    void startupState()
    {
        WindowOnFake w;
        Widget &win = *w.window;
        QVERIFY(win.pluginsComplete());
        // The version set once in CMakeLists.txt.
        QCOMPARE(win.windowTitle(), QStringLiteral("KV930 v" KV930_VERSION " "));
        QCOMPARE(win.size(), QSize(1000, 600));
        const QRect desk = QGuiApplication::primaryScreen()->virtualGeometry();
        QCOMPARE(win.pos(), QPoint((desk.width() - 1000) / 2, (desk.height() - 600) / 2));

        // Actions: texts, icons and their state before the meter is connected.
        const QList<QPair<const char *, QString>> texts = {
            {"actionConnect", "Connect"},
            {"actionDisconnect", "&Disconnect"},
            {"actionClose", "C&lose"},
            {"actionStart", "Start"},
            {"actionStop", "Stop"},
            {"actionManual", "&Manual"},
            {"actionItemNew", "New"},
            {"actionItemDelete", "Delete"},
            {"actionItemRename", "Rename"},
            {"actionItemSetToActive", "Set to active"},
            {"actionItemDownload", "Download"},
            {"actionExport", "Export"},
            {"actionImport", "Import"},
            {"actionSyncTime", "Sync Time"}};
        for (const auto &t : texts) {
            QAction *a = w.action(t.first);
            QVERIFY2(a, t.first);
            QCOMPARE(a->text(), t.second);
            QVERIFY2(!a->icon().isNull(), t.first);
        }
        checkStates(w, {true, false, false, false, false});
        QVERIFY(w.action("actionExport")->isEnabled());
        QVERIFY(w.action("actionImport")->isEnabled());
        QVERIFY(w.action("actionManual")->isEnabled());
        QVERIFY(!win.isAcquiring());
        // The converter was asked for by its USB ids.
        QCOMPARE(fake->property("lastVendorId").toInt(), 0x1A86);
        QCOMPARE(fake->property("lastProductId").toInt(), 0x7523);

        // Menus and tool bars.
        auto *menuBar = w.child<QMenuBar>("menuBar");
        QVERIFY(menuBar);
        const QList<QAction *> menus = menuBar->actions();
        // File and Help as they always were, with Analysis added between them.
        QCOMPARE(menus.size(), 3);
        QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
        QCOMPARE(menus[1]->text(), QStringLiteral("&Analysis"));
        QCOMPARE(menus[2]->text(), QStringLiteral("&Help"));
        QCOMPARE(
            actionNames(menus[0]->menu()->actions()),
            QStringList({"actionConnect", "actionDisconnect", "actionSelectMeter", "actionAddMeter",
                         "actionStart", "actionStop", "|", "actionImport", "actionExport",
                         "actionRecentRecordings", "actionPublishing", "|", "actionClose"}));
        QCOMPARE(actionNames(menus[1]->menu()->actions()),
                 QStringList({"actionSetReference", "actionClearReference", "|", "actionLimits"}));
        QCOMPARE(actionNames(menus[2]->menu()->actions()), QStringList({"actionManual"}));

        auto *mainToolBar = w.child<QToolBar>("mainToolBar");
        QCOMPARE(mainToolBar->windowTitle(), QStringLiteral("Toolbar"));
        QCOMPARE(mainToolBar->iconSize(), QSize(16, 16));
        QCOMPARE(mainToolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(win.toolBarArea(mainToolBar), Qt::TopToolBarArea);
        QStringList bar = actionNames(mainToolBar->actions());
        // The expanding spacer sits just before Close.
        const int spacerAt = bar.size() - 2;
        QVERIFY(mainToolBar->widgetForAction(mainToolBar->actions().at(spacerAt)));
        QCOMPARE(mainToolBar->widgetForAction(mainToolBar->actions().at(spacerAt))
                     ->sizePolicy()
                     .horizontalPolicy(),
                 QSizePolicy::Expanding);
        bar.removeAt(spacerAt);
        QCOMPARE(bar, QStringList({"actionConnect", "actionDisconnect", "|", "actionStart",
                                   "actionStop", "|", "actionSyncTime", "|", "actionExport",
                                   "actionImport", "|", "actionClose"}));
        auto *itemToolBar = w.child<QToolBar>("itemToolBar");
        QCOMPARE(itemToolBar->windowTitle(), QStringLiteral("Item Tool"));
        QCOMPARE(itemToolBar->toolButtonStyle(), Qt::ToolButtonIconOnly);
        QCOMPARE(actionNames(itemToolBar->actions()),
                 QStringList({"actionItemSetToActive", "actionItemRename", "actionItemNew",
                              "actionItemDelete"}));

        // Tabs, unit box, reading panel, table.
        auto *tabs = w.child<QTabWidget>("tabWidget");
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Table"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Chart"));
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(!tabs->tabIcon(0).isNull());
        auto *unitBox = w.child<QComboBox>("cbbChartUnit");
        QCOMPARE(unitBox->count(), 3);
        QCOMPARE(unitBox->itemText(0), QStringLiteral("uW"));
        QCOMPARE(unitBox->itemText(1), QStringLiteral("mW"));
        QCOMPARE(unitBox->itemText(2), QStringLiteral("dBm"));
        QCOMPARE(unitBox->currentText(), QStringLiteral("uW"));
        QCOMPARE(w.child<QLabel>("label")->text(), QStringLiteral("Unit"));
        QCOMPARE(w.child<QLabel>("lcdValue")->text(), QStringLiteral("00000"));
        QVERIFY(w.child<QLabel>("lcdUnit")->text().isEmpty());
        QVERIFY(w.child<QWidget>("chart"));
        auto *tv = w.child<QTableView>("tv");
        const int widths[] = {80, 150, 100, 80, 100};
        for (int c = 0; c < 5; ++c)
            QCOMPARE(tv->columnWidth(c), widths[c]);
        QVERIFY(!tv->horizontalHeader()->sectionsClickable());
        QCOMPARE(tv->selectionBehavior(), QAbstractItemView::SelectRows);

        // The tree: two groups and the active first item, which is also current.
        auto *tree = w.child<QTreeView>("tvItems");
        QVERIFY(tree->isHeaderHidden());
        QCOMPARE(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
        QAbstractItemModel *model = tree->model();
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("Store Data"));
        QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("Live Data"));
        const QModelIndex first = model->index(0, 0, model->index(1, 0));
        QCOMPARE(first.data().toString(), QStringLiteral("Measure1"));
        QVERIFY(first.data(ActiveRole).toBool());
        QVERIFY(tree->isExpanded(model->index(1, 0)));
        QCOMPARE(tree->currentIndex(), first);
        QCOMPARE(win.activeItemData(), TvItemModel::itemDataAt(first));
    }

    void converterAbsentKeepsConnectDisabledUntilRefreshed()
    {
        QMetaObject::invokeMethod(fake, "setConverterPresent", Q_ARG(bool, false));
        WindowOnFake w;
        checkStates(w, {false, false, false, false, false});
        QMetaObject::invokeMethod(fake, "setConverterPresent", Q_ARG(bool, true));
        QMetaObject::invokeMethod(fake, "emitUsbRefreshed");
        QVERIFY(w.action("actionConnect")->isEnabled());
        // While the link is open Connect stays off, whatever the ports do.
        connectAndWait(w);
        w.action("actionStart")->trigger();
        for (bool present : {false, true}) {
            QMetaObject::invokeMethod(fake, "setConverterPresent", Q_ARG(bool, present));
            QMetaObject::invokeMethod(fake, "emitUsbRefreshed");
            checkStates(w, {false, true, false, true, true});
        }
        QCOMPARE(fake->property("openCalls").toInt(), 1);
        QMetaObject::invokeMethod(fake, "emitClosed");
        QVERIFY(w.action("actionConnect")->isEnabled());
    }

    void repeatedOpenedKeepsTheRecordingStoppable()
    {
        WindowOnFake w;
        connectAndWait(w);
        w.action("actionStart")->trigger();
        QMetaObject::invokeMethod(fake, "emitOpened"); // a driver fault
        QVERIFY(w.window->isAcquiring());
        checkStates(w, {false, true, false, true, true});
        w.action("actionStop")->trigger();
        checkStates(w, {false, true, true, false, true});
    }

    void actionStateTable()
    {
        WindowOnFake w;
        // Connect asks the plugin; the window changes only when opened() arrives later.
        w.action("actionConnect")->trigger();
        QCOMPARE(fake->property("openCalls").toInt(), 1);
        checkStates(w, {true, false, false, false, false});
        QTRY_VERIFY(w.action("actionDisconnect")->isEnabled());
        checkStates(w, {false, true, true, false, true});

        w.action("actionStart")->trigger();
        QVERIFY(w.window->isAcquiring());
        checkStates(w, {false, true, false, true, true});

        w.action("actionStop")->trigger();
        QVERIFY(!w.window->isAcquiring());
        checkStates(w, {false, true, true, false, true});

        // closed() during acquisition ends it.
        w.action("actionStart")->trigger();
        w.action("actionDisconnect")->trigger();
        QCOMPARE(fake->property("closeCalls").toInt(), 1);
        QMetaObject::invokeMethod(fake, "emitClosed");
        QVERIFY(!w.window->isAcquiring());
        checkStates(w, {true, false, false, false, false});

        // Stop while the link is closed leaves Start disabled.
        w.action("actionStop")->setEnabled(true);
        w.action("actionStop")->trigger();
        checkStates(w, {true, false, false, false, false});
    }

    void openedWithStoreDataActiveKeepsStartDisabled()
    {
        WindowOnFake w;
        auto *tree = w.child<QTreeView>("tvItems");
        const QModelIndex store = tree->model()->index(0, 0);
        tree->setCurrentIndex(store);
        w.action("actionItemSetToActive")->trigger();
        connectAndWait(w);
        QVERIFY(!w.action("actionStart")->isEnabled());
        // Start on the store does nothing even when forced.
        w.action("actionStart")->setEnabled(true);
        w.action("actionStart")->trigger();
        QVERIFY(!w.window->isAcquiring());
        // Making a measurement item active enables Start again.
        const QModelIndex item = tree->model()->index(0, 0, tree->model()->index(1, 0));
        tree->setCurrentIndex(item);
        w.action("actionItemSetToActive")->trigger();
        QVERIFY(w.action("actionStart")->isEnabled());
        QVERIFY(!w.action("actionStop")->isEnabled());
    }

    void failedOpenShowsMessageAndChangesNothing()
    {
        WindowOnFake w;
        QMetaObject::invokeMethod(fake, "setOpenResult", Q_ARG(bool, false));
        w.action("actionConnect")->trigger();
        QCOMPARE(w.prompt->messages(), QStringList({"Failed to open device."}));
        QCOMPARE(w.prompt->asked.last().kind, QStringLiteral("critical"));
        QTest::qWait(20);
        checkStates(w, {true, false, false, false, false});
    }

    void connectTwiceBeforeOpenedCallsOpenTwice()
    {
        WindowOnFake w;
        QMetaObject::invokeMethod(fake, "setAutoOpened", Q_ARG(bool, false));
        w.action("actionConnect")->trigger();
        w.action("actionConnect")->trigger();
        QCOMPARE(fake->property("openCalls").toInt(), 2);
        QMetaObject::invokeMethod(fake, "emitOpened");
        checkStates(w, {false, true, true, false, true});
    }

    void closingTheWindowClosesTheMeterAndWritesSettings()
    {
        WindowOnFake w;
        connectAndWait(w);
        const int before = fake->property("closeCalls").toInt();
        w.window->show();
        QVERIFY(w.window->close());
        QVERIFY(fake->property("closeCalls").toInt() > before);
        QVERIFY(QFile::exists(w.app.file(QStringLiteral("options.xml"))));
    }

    void contextMenuFollowsTheCurrentRow()
    {
        WindowOnFake w;
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        auto *tree = w.child<QTreeView>("tvItems");
        QAbstractItemModel *model = tree->model();
        const auto menuFor = [&](const QModelIndex &index) {
            tree->setCurrentIndex(index);
            QStringList shown;
            bool opened = false;
            QTimer::singleShot(0, [&] {
                if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                    opened = true;
                    shown = actionNames(menu->actions());
                    menu->close();
                }
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    tree->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(tree, &event);
            QTest::qWait(10);
            return opened ? shown : QStringList({"<no menu>"});
        };
        QCOMPARE(menuFor(model->index(1, 0)), QStringList({"actionItemNew"}));
        QCOMPARE(menuFor(model->index(0, 0)),
                 QStringList({"actionItemSetToActive", "actionItemDownload"}));
        QCOMPARE(menuFor(model->index(0, 0, model->index(1, 0))),
                 QStringList({"actionItemSetToActive", "actionItemRename", "actionItemNew",
                              "actionItemDelete"}));
        tree->setCurrentIndex(QModelIndex());
        QCOMPARE(menuFor(QModelIndex()), QStringList({"<no menu>"}));
        // The tool bar follows the current row the same way.
        tree->setCurrentIndex(model->index(0, 0));
        QCOMPARE(actionNames(w.child<QToolBar>("itemToolBar")->actions()),
                 QStringList({"actionItemSetToActive", "actionItemDownload"}));
    }

    void incompleteDriverSetIsReportedThenTheApplicationFails()
    {
        WindowOnFake w(QStringLiteral("incomplete"));
        QVERIFY(!w.window->pluginsComplete());
        // Calls on the missing interface are skipped: nothing crashes.
        w.window->show();
        QTimer::singleShot(5000, [] { QCoreApplication::exit(99); }); // safety net
        const int rc = QCoreApplication::exec();
        QCOMPARE(rc, EXIT_FAILURE); // a calling script sees the failed start
        const QStringList messages = w.prompt->messages();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("com.zr.IMyDmm")), qPrintable(messages[0]));
        QVERIFY2(messages[0].contains(QStringLiteral("Lib")), qPrintable(messages[0]));
        QCOMPARE(w.prompt->asked.last().kind, QStringLiteral("critical"));
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
