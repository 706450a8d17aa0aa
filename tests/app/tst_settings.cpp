// options.xml through the window: written at close, read at the first show.
#include "kv930resources.h"
#include "testsupport.h"

#include <QAction>
#include <QStandardPaths>
#include <QToolBar>
#include <QtTest>

class WindowSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        kv930InitResources();
        QVERIFY(fakeMeter());
    }
    void init() { resetFake(fakeMeter()); }

    void geometryAndToolBarsSurviveARestart()
    {
        FixtureAppDir app;
        QByteArray savedState;
        {
            auto prompt = std::make_unique<ScriptedPrompt>();
            ScriptedPrompt *asked = prompt.get();
            Widget w(app.path(), std::move(prompt));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.setGeometry(QRect(40, 50, 820, 530));
            w.findChild<QToolBar *>(QStringLiteral("mainToolBar"))->hide();
            savedState = w.saveState(0);
            QVERIFY(w.close());
            QVERIFY(asked->messages().isEmpty());
        }
        QFile file(app.file(QStringLiteral("options.xml")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray xml = file.readAll();
        QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QVERIFY(xml.contains("<State>" + savedState.toHex() + "</State>"));

        Widget again(app.path(), std::make_unique<ScriptedPrompt>());
        QCOMPARE(again.size(), QSize(1000, 600));
        again.show(); // the show event reads the file
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QTRY_COMPARE(again.size(), QSize(820, 530));
        QVERIFY(again.findChild<QToolBar *>(QStringLiteral("mainToolBar"))->isHidden());
    }

    void showingAgainKeepsTheLayoutMadeSince()
    {
        FixtureAppDir app;
        {
            Widget w(app.path(), std::make_unique<ScriptedPrompt>());
            w.show();
            w.setGeometry(QRect(40, 50, 820, 530));
            QVERIFY(w.close());
        }
        Widget w(app.path(), std::make_unique<ScriptedPrompt>());
        w.show();
        QTRY_COMPARE(w.size(), QSize(820, 530));
        w.resize(900, 640);
        w.showMinimized();
        w.hide(); // whatever the platform does with minimising
        w.showNormal();
        QTest::qWait(50);
        QCOMPARE(w.size(), QSize(900, 640));
    }

    void missingFileSaysNothingAndKeepsTheStartPlacement()
    {
        FixtureAppDir app;
        auto prompt = std::make_unique<ScriptedPrompt>();
        ScriptedPrompt *asked = prompt.get();
        Widget w(app.path(), std::move(prompt));
        const QPoint placed = w.pos();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(1000, 600));
        QCOMPARE(w.pos(), placed);
        QVERIFY(asked->asked.isEmpty());
        QVERIFY(w.sceneFile().isEmpty());
    }

    void sceneFileNameIsRestored()
    {
        FixtureAppDir app;
        QFile file(app.file(QStringLiteral("options.xml")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\"?><options><SceneFileName>/tmp/a &amp; "
                   "b.pdf</SceneFileName></options>");
        file.close();
        Widget w(app.path(), std::make_unique<ScriptedPrompt>());
        w.show();
        QCOMPARE(w.sceneFile(), QStringLiteral("/tmp/a & b.pdf"));
    }

    void unwritableFileWarnsAndTheWindowStillCloses()
    {
        FixtureAppDir app;
        // A folder where the file should be: it cannot be written whoever we are.
        QVERIFY(QDir(app.path()).mkdir(QStringLiteral("options.xml")));
        auto prompt = std::make_unique<ScriptedPrompt>();
        ScriptedPrompt *asked = prompt.get();
        Widget w(app.path(), std::move(prompt));
        w.show();
        QVERIFY(w.close());
        QVERIFY(!w.isVisible());
        QCOMPARE(asked->messages(), QStringList({"Can not open file."}));
        QCOMPARE(asked->asked.last().kind, QStringLiteral("warning"));
    }

    void programFolderThatCannotHoldTheFileFallsBackToTheUserConfigFolder()
    {
        // An installed program's folder is not the user's to write: the window
        // then keeps its settings in the user's configuration folder.
        QStandardPaths::setTestModeEnabled(true);
        const QString configDir =
            QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        QDir(configDir).removeRecursively();
        const QString missingFolder = QDir::tempPath() + QStringLiteral("/kv930-no-such-folder");
        {
            Widget w(missingFolder, std::make_unique<ScriptedPrompt>());
            QCOMPARE(QFileInfo(w.settingsFilePath()).absolutePath(),
                     QDir(configDir).absolutePath());
            w.show();
            w.setGeometry(QRect(30, 30, 700, 450));
            QVERIFY(w.close());
        }
        QVERIFY(QFile::exists(configDir + QStringLiteral("/options.xml")));
        Widget again(missingFolder, std::make_unique<ScriptedPrompt>());
        again.show();
        QTRY_COMPARE(again.size(), QSize(700, 450));
        QDir(configDir).removeRecursively();
    }
};

QTEST_MAIN(WindowSettingsTest)
#include "tst_settings.moc"
