// The main window under an X server with a window manager (openbox), run
// through xvfb-run on the xcb platform; skipped elsewhere.
#include "frmMain.h"

#include "DBEngine.h"
#include "Globals.h"
#include "ListFile.h"
#include "Paths.h"
#include "TestSupport.h"

#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class NoHelp : public HelpViewer {
    void showHelpTopic(const QString&, int) override {}
};

// One property of a window (or of the root window) as xprop prints it.
QString xprop(const QString& property, WId id = 0)
{
    const QStringList window = id ? QStringList{QStringLiteral("-id"), QString::number(id)} : QStringList{"-root", ""};
    return runProcess(QStringLiteral("xprop"), window + QStringList{property}, {.timeout = std::chrono::seconds(5)})
        .out;
}

} // namespace

class WindowManagerTest : public QObject {
    Q_OBJECT
private slots:
    void runKeepsTheWindowInPlaceAndAboveOthers();
};

void WindowManagerTest::runKeepsTheWindowInPlaceAndAboveOthers()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") ||
        QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
        QSKIP("skipped: needs xvfb-run, the xcb platform and openbox");
    const std::unique_ptr<QProcess> wm = startProcess(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    for (int i = 0; i < 50 && !xprop(QStringLiteral("_NET_SUPPORTING_WM_CHECK")).contains(QLatin1String("id #")); ++i)
        QTest::qWait(100);
    if (!xprop(QStringLiteral("_NET_SUPPORTING_WM_CHECK")).contains(QLatin1String("id #")))
        QSKIP("skipped: the window manager did not start");

    resetGlobals();
    QTemporaryDir dir;
    setProgramDirOverride(dir.path());
    gIniPath = dir.filePath(QStringLiteral("INI/ZUL.ini"));
    gListDbPath = dir.filePath(QStringLiteral("ZUL_db.accdb"));
    auto data = DbEngine().CreateDatabase(dir.filePath(QStringLiteral("ZUL_data.accdb")), dao::dbLangCzech);
    data->Execute(QStringLiteral("create table Osoby (ID integer)"));
    data->Close();
    DbEngine().CreateDatabase(dir.filePath(QStringLiteral("ZUL.accdr")), dao::dbLangCzech)->Close();
    RecordingDesktop desktop;
    CreateListFile(desktop);
    NoHelp help;
    frmMain window(desktop, help);
    window.setProgramPathText(dir.filePath(QStringLiteral("ZUL.accdr")));
    window.setDataPathText(dir.filePath(QStringLiteral("ZUL_data.accdb")));
    window.show();
    const WId id = window.winId();
    const auto above = [id] { return xprop(QStringLiteral("_NET_WM_STATE"), id).contains(QLatin1String("ABOVE")); };
    QTRY_VERIFY(xprop(QStringLiteral("_NET_FRAME_EXTENTS"), id).contains(QLatin1Char('='))); // framed by openbox
    QTest::qWait(200);
    const QPoint position = window.pos();
    QVERIFY(!above());
    // A fixed window offers no maximise button: MWM_FUNC_MAXIMIZE and MWM_DECOR_MAXIMIZE are off.
    const QStringList hints = xprop(QStringLiteral("_MOTIF_WM_HINTS"), id).section('=', 1).split(',');
    QCOMPARE(hints.size(), 5);
    QCOMPARE((hints.at(1).trimmed().toUInt(nullptr, 16) & 0x10) | (hints.at(2).trimmed().toUInt(nullptr, 16) & 0x40),
             0u);

    // During the run, at its first catch-up: the same native window in the same place, above the others.
    QStringList during;
    desktop.onEvent = [&](const QString& event) {
        if (event != QLatin1String("doevents") || !during.isEmpty())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(above(), 3000);
        during = {QString::number(window.winId() == id), QString::number(window.pos() == position),
                  QString::number(window.findChild<QPushButton*>(QStringLiteral("btnBrowse0"))->isEnabled())};
    };
    window.btnPropoj_Click();
    desktop.onEvent = nullptr;
    QVERIFY(!gLinkFailed);
    QCOMPARE(during, (QStringList{"1", "1", "0"}));
    QTRY_VERIFY(!above());
    QTest::qWait(200);
    QCOMPARE(window.winId(), id);
    QCOMPARE(window.pos(), position);
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("btnBrowse0"))->isEnabled());
    setProgramDirOverride(QString());
    wm->terminate();
    wm->waitForFinished(3000);
}

QTEST_MAIN(WindowManagerTest)
#include "WindowManagerTest.moc"
