// The main window under a real X server with a window manager (openbox):
// run under xvfb-run with the xcb platform; skipped elsewhere.
#include "frmMain.h"

#include "DBEngine.h"
#include "Globals.h"
#include "ListFile.h"
#include "Paths.h"

#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class NoHelp : public HelpViewer {
public:
    void showHelpTopic(const QString&, int) override {}
};

QString xprop(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xprop"), arguments);
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString windowState(WId id)
{
    return xprop({QStringLiteral("-id"), QString::number(id), QStringLiteral("_NET_WM_STATE")});
}

bool isAbove(WId id)
{
    return windowState(id).contains(QLatin1String("_NET_WM_STATE_ABOVE"));
}

} // namespace

class WindowManagerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void runKeepsTheWindowInPlaceAndAboveOthers();

private:
    QProcess m_wm;
};

void WindowManagerTest::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("skipped: needs an X server (the test runs under xvfb-run)");
    if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
        QSKIP("skipped: openbox or xprop not installed");
    m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    const auto running = [] {
        return xprop({QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
            .contains(QLatin1String("window id"));
    };
    for (int i = 0; i < 50 && !running(); ++i)
        QTest::qWait(100);
    if (!running())
        QSKIP("skipped: the window manager did not start");
}

void WindowManagerTest::cleanupTestCase()
{
    if (m_wm.state() != QProcess::NotRunning) {
        m_wm.terminate();
        m_wm.waitForFinished(3000);
    }
}

void WindowManagerTest::runKeepsTheWindowInPlaceAndAboveOthers()
{
    resetGlobals();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    setProgramDirOverride(dir.path());
    gIniPath = dir.filePath(QStringLiteral("INI/ZUL.ini"));
    gListDbPath = dir.filePath(QStringLiteral("ZUL_db.accdb"));
    auto data = DbEngine().CreateDatabase(dir.filePath(QStringLiteral("ZUL_data.accdb")), dao::dbLangCzech);
    data->Execute(QStringLiteral("create table Osoby (ID integer, Jmeno text(50))"));
    data->Close();
    DbEngine().CreateDatabase(dir.filePath(QStringLiteral("ZUL.accdr")), dao::dbLangCzech)->Close();

    RecordingDesktop desktop;
    CreateListFile(desktop);
    NoHelp help;
    frmMain window(desktop, help);
    window.setProgramPathText(dir.filePath(QStringLiteral("ZUL.accdr")));
    window.setDataPathText(dir.filePath(QStringLiteral("ZUL_data.accdb")));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const WId id = window.winId();
    // Managed by the window manager: it has put its frame around the window.
    QTRY_VERIFY(xprop({QStringLiteral("-id"), QString::number(id), QStringLiteral("_NET_FRAME_EXTENTS")})
                    .contains(QLatin1Char('=')));
    QTest::qWait(200);
    const QPoint position = window.pos();
    QVERIFY(!isAbove(id));

    // A fixed window offers no maximise button (MWM_FUNC_MAXIMIZE, MWM_DECOR_MAXIMIZE).
    const QStringList hints = xprop({QStringLiteral("-id"), QString::number(id), QStringLiteral("_MOTIF_WM_HINTS")})
                                  .section('=', 1)
                                  .split(',');
    QCOMPARE(hints.size(), 5);
    QCOMPARE(hints.at(1).trimmed().toUInt(nullptr, 16) & 0x10, 0u);
    QCOMPARE(hints.at(2).trimmed().toUInt(nullptr, 16) & 0x40, 0u);

    bool sampled = false, aboveDuring = false;
    WId idDuring = 0;
    QPoint positionDuring;
    bool browseEnabledDuring = true;
    desktop.onEvent = [&](const QString& event) {
        if (event != QLatin1String("doevents") || sampled)
            return;
        sampled = true;
        QCoreApplication::processEvents();
        for (int i = 0; i < 30 && !aboveDuring; ++i) {
            aboveDuring = isAbove(id);
            QTest::qWait(aboveDuring ? 0 : 100);
        }
        idDuring = window.winId();
        positionDuring = window.pos();
        browseEnabledDuring = window.findChild<QPushButton*>(QStringLiteral("btnBrowse0"))->isEnabled() ||
                              window.findChild<QPushButton*>(QStringLiteral("btnBrowse1"))->isEnabled();
    };
    window.btnPropoj_Click();
    desktop.onEvent = nullptr;

    QVERIFY(sampled);
    QVERIFY(!gLinkFailed);
    QVERIFY2(aboveDuring, qPrintable(windowState(id)));
    QCOMPARE(idDuring, id);
    QCOMPARE(positionDuring, position);
    QVERIFY(!browseEnabledDuring);
    QTRY_VERIFY(!isAbove(id));
    QCOMPARE(window.winId(), id);
    QTest::qWait(200);
    QCOMPARE(window.pos(), position);
    QVERIFY(window.isVisible());
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("btnBrowse0"))->isEnabled());
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("btnBrowse1"))->isEnabled());
    setProgramDirOverride(QString());
}

QTEST_MAIN(WindowManagerTest)
#include "WindowManagerTest.moc"
