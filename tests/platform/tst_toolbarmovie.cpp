// The toolbar built from description files: the shipped files, fallbacks,
// commands, pages, variables and palette-tinted icons.
#include "platform/ui/toolbarmovie.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace {

QString shippedFile(const QString &name)
{
    return QDir(qEnvironmentVariable("SUITE_SOURCE_DIR")).filePath(QStringLiteral("resources/toolbar/") + name);
}

QByteArray description(const QByteArray &items, const QByteArray &extraPages = {})
{
    return R"({"format": "tessel-toolbar", "version": 1, "dragCommand": "IDC_FS_drag",
               "pages": [ {"name": "main", "items": [)" + items + "]}" + extraPages + "]}";
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QStringList tesselCommands()
{
    return {"IDC_FS_tray", "IDC_FS_minimize", "IDC_FS_close", "IDC_FS_drag", "IDC_FS_launchFTP",
            "IDC_FS_ShowB", "IDC_FS_ShowC", "IDC_FS_HideB", "IDC_FS_HideC", "IDC_FS_AddURL",
            "IDC_FS_ReDownload", "IDC_FS_PauseAll", "IDC_FS_ResumeAll", "IDC_FS_StopAll",
            "IDC_FS_Schedule", "IDC_FS_Settings", "IDC_FS_UserGuide", "IDC_FS_openAbout",
            "IDC_FS_closeAbout"};
}

// Every command Corvane acts on; the three that do nothing are left out.
QStringList corvaneCommands()
{
    return {"IDC_FS_Tray", "IDC_FS_minimize", "IDC_FS_close", "IDC_FS_drag", "IDC_FS_launchDM",
            "IDC_FS_LocalUpLevel", "IDC_FS_LocalRefresh", "IDC_FS_Upload", "IDC_FS_RemoteUpLevel",
            "IDC_FS_RemoteRefresh", "IDC_FS_Download", "IDC_FS_LocalLargeIcons",
            "IDC_FS_LocalSmallIcons", "IDC_FS_LocalListIcons", "IDC_FS_LocalDetailsIcons",
            "IDC_FS_RemoteLargeIcons", "IDC_FS_RemoteSmallIcons", "IDC_FS_RemoteListIcons",
            "IDC_FS_RemoteDetailsIcons", "IDC_FS_ShowA", "IDC_FS_ShowB", "IDC_FS_ShowC",
            "IDC_FS_HideA", "IDC_FS_HideB", "IDC_FS_HideC", "IDC_FS_Connect", "IDC_FS_Disconnect",
            "IDC_FS_OpenFile", "IDC_FS_LDirSynchronize", "IDC_FS_Erase", "IDC_FS_LDelete",
            "IDC_FS_LRename", "IDC_FS_LCreateFolder", "IDC_FS_FindFile", "IDC_FS_Properties",
            "IDC_FS_LDirFilters", "IDC_FS_RDirSynchronize", "IDC_FS_FileReceive",
            "IDC_FS_ManualSend", "IDC_FS_RDelete", "IDC_FS_RRename", "IDC_FS_RCreateFolder",
            "IDC_FS_MoveFileFolder", "IDC_FS_GoToRemoteDir", "IDC_FS_RDirFilters",
            "IDC_FS_CustomCommand", "IDC_FS_ClearLog", "IDC_FS_Recycle", "IDC_FS_Options",
            "IDC_FS_UserGuide", "IDC_FS_openAbout", "IDC_FS_closeAbout"};
}

QStringList loadedCommands(const QString &path)
{
    ToolbarMovie movie;
    return movie.load(path) ? movie.commands() : QStringList();
}

QPalette makePalette(const QColor &window, const QColor &text, const QColor &disabledText)
{
    QPalette pal(window);
    for (auto group : {QPalette::Active, QPalette::Inactive})
        for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            pal.setColor(group, role, text);
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        pal.setColor(QPalette::Disabled, role, disabledText);
    pal.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xd9));
    return pal;
}

// The colour most opaque pixels of an icon take.
QColor inkOf(const QIcon &icon)
{
    const QImage image = icon.pixmap(QSize(24, 24)).toImage().convertToFormat(QImage::Format_ARGB32);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255)
                ++counts[image.pixel(x, y) | 0xff000000u];
    QRgb best = 0;
    int most = 0;
    for (auto it = counts.begin(); it != counts.end(); ++it)
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    return most ? QColor::fromRgb(best) : QColor();
}

} // namespace

class TestToolbarMovie : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shippedFilesLoad_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("required");
        QTest::addColumn<QStringList>("variables");
        QTest::newRow("Tessel") << QStringLiteral("varnodm.swf") << tesselCommands()
                                << QStringList{"_root.Program"};
        QTest::newRow("Corvane") << QStringLiteral("QFTP.swf") << corvaneCommands()
                                 << QStringList{"_root.Connected", "_root.Program",
                                                "_root.Progress_mc._xscale", "_root.status_txt.text"};
    }

    void shippedFilesLoad()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, required);
        QFETCH(QStringList, variables);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        ToolbarMovie movie;
        QVERIFY2(movie.load(shippedFile(file)), qPrintable(movie.loadError()));
        QVERIFY(!movie.isDefault());
        QVERIFY(movie.loadError().isEmpty());
        for (const QString &command : required)
            QVERIFY2(movie.commands().contains(command), qPrintable(command));
        for (const QString &command : movie.commands())
            QVERIFY2(command.startsWith(QLatin1String("IDC_FS_")), qPrintable(command));
        QCOMPARE(movie.variables(), variables);
        QCOMPARE(movie.pages(), (QStringList{"main", "about"}));
        QCOMPARE(movie.currentPage(), QStringLiteral("main"));

        // Every entry has a drawable icon (a misspelt icon name shows none)
        // and every shown button can take the keyboard focus.
        for (QAction *action : movie.findChildren<QAction *>()) {
            if (action->isSeparator() || action->text().isEmpty())
                continue;
            QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
        }
        for (QToolButton *button : movie.findChildren<QToolButton *>()) {
            if (button->objectName() == QLatin1String("qt_toolbar_ext_button"))
                continue;
            QVERIFY2(button->focusPolicy() & Qt::TabFocus, qPrintable(button->text()));
        }
    }

    void missingOrMalformedFileFallsBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("standIn");   // the shipped file that stands in, empty: generic
        const QByteArray fine = description(R"({"type": "button", "text": "Go", "command": "IDC_FS_x"})");
        QTest::newRow("missing Tessel file") << "varnodm.swf" << QByteArray() << "cannot read" << "varnodm.swf";
        QTest::newRow("missing Corvane file") << "QFTP.swf" << QByteArray() << "cannot read" << "QFTP.swf";
        QTest::newRow("missing other file") << "other.swf" << QByteArray() << "cannot read" << "";
        QTest::newRow("old binary movie") << "varnodm.swf" << QByteArray("FWS\x06\x10\x00", 6) << "not JSON" << "varnodm.swf";
        QTest::newRow("cut short") << "QFTP.swf" << fine.left(fine.size() / 2) << "not JSON" << "QFTP.swf";
        QTest::newRow("other malformed file") << "other.swf" << QByteArray("[]") << "object" << "";
        QTest::newRow("wrong format")
            << "varnodm.swf" << QByteArray(fine).replace("tessel-toolbar", "other") << "format" << "varnodm.swf";
        QTest::newRow("newer version")
            << "varnodm.swf" << QByteArray(fine).replace("\"version\": 1", "\"version\": 2") << "version" << "varnodm.swf";
        QTest::newRow("no pages")
            << "varnodm.swf" << QByteArray(R"({"format": "tessel-toolbar", "version": 1, "pages": []})") << "pages" << "varnodm.swf";
        QTest::newRow("unknown item type")
            << "varnodm.swf" << description(R"({"type": "slider"})") << "unknown item type" << "varnodm.swf";
        QTest::newRow("button without command")
            << "varnodm.swf" << description(R"({"type": "button", "text": "Go"})") << "command" << "varnodm.swf";
        QTest::newRow("command not a string")
            << "varnodm.swf" << description(R"({"type": "button", "text": "Go", "command": 7})") << "must be a string" << "varnodm.swf";
        QTest::newRow("page that does not exist")
            << "varnodm.swf" << description(R"({"type": "button", "text": "Go", "page": "nowhere"})") << "no page" << "varnodm.swf";
        QTest::newRow("bad shortcut")
            << "varnodm.swf" << description(R"({"type": "button", "text": "Go", "command": "IDC_FS_x", "shortcut": "Ctrl+Nope+"})") << "key sequence" << "varnodm.swf";
        QTest::newRow("page name twice")
            << "varnodm.swf" << description("", R"(, {"name": "main", "items": []})") << "twice" << "varnodm.swf";
        QTest::newRow("menu entry of unknown kind")
            << "varnodm.swf" << description(R"({"type": "menu", "text": "M", "items": [{"type": "text"}]})") << "menu entry" << "varnodm.swf";
    }

    void missingOrMalformedFileFallsBack()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(QString, standIn);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); // no message of any kind
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!content.isEmpty())
            QVERIFY(writeFile(path, content));

        ToolbarMovie movie;
        QVERIFY(!movie.load(path));
        QVERIFY(movie.isDefault());
        QVERIFY2(movie.loadError().contains(error), qPrintable(movie.loadError()));
        if (standIn.isEmpty())
            QCOMPARE(movie.commands(), (QStringList{"IDC_FS_minimize", "IDC_FS_close", "IDC_FS_drag"}));
        else
            QCOMPARE(movie.commands(), loadedCommands(shippedFile(standIn)));
    }

    void aGoodFileReplacesTheToolbar()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("varnodm.swf"));
        QVERIFY(writeFile(path, "{ broken"));
        ToolbarMovie movie;
        QVERIFY(!movie.load(path));
        QVERIFY(writeFile(path, description(R"({"type": "button", "text": "Go", "command": "IDC_FS_Go"})")));
        QVERIFY(movie.load(path));
        QVERIFY(!movie.isDefault());
        QVERIFY(movie.loadError().isEmpty());
        QCOMPARE(movie.commands(), (QStringList{"IDC_FS_Go", "IDC_FS_drag"}));
    }

    void pressesSendCommandAndArgument()
    {
        ToolbarMovie movie;
        QString error;
        const QByteArray json = description(R"(
            {"type": "button", "icon": "pause", "text": "Pause", "command": "IDC_FS_PauseAll", "argument": "all"},
            {"type": "button", "icon": "stop", "text": "Stop", "command": "IDC_FS_StopAll"},
            {"type": "menu", "icon": "help", "text": "Help", "items": [
                {"text": "Guide", "command": "IDC_FS_UserGuide", "argument": "chapter 2"}]})");
        QVERIFY2(movie.loadDescription(json, {}, &error), qPrintable(error));
        movie.show();
        QSignalSpy spy(&movie, &ToolbarMovie::commandTriggered);

        QTest::mouseClick(movie.buttonFor(QStringLiteral("IDC_FS_PauseAll")), Qt::LeftButton);
        QTest::mouseClick(movie.buttonFor(QStringLiteral("IDC_FS_StopAll")), Qt::LeftButton);
        QVERIFY(!movie.buttonFor(QStringLiteral("IDC_FS_UserGuide"))); // a menu entry has no button
        movie.actionFor(QStringLiteral("IDC_FS_UserGuide"))->trigger();

        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0), (QVariantList{"IDC_FS_PauseAll", "all"}));
        QCOMPARE(spy.at(1), (QVariantList{"IDC_FS_StopAll", ""}));
        QCOMPARE(spy.at(2), (QVariantList{"IDC_FS_UserGuide", "chapter 2"}));
    }

    void keyboardReachesTheButtons()
    {
        QWidget window;
        auto *movie = new ToolbarMovie(&window);
        QString error;
        const QByteArray json = description(R"(
            {"type": "button", "text": "Add", "command": "IDC_FS_AddURL", "shortcut": "Ctrl+N", "tooltip": "Add a URL"},
            {"type": "button", "text": "Settings", "command": "IDC_FS_Settings"},
            {"type": "menu", "text": "Help", "items": [{"text": "Guide", "command": "IDC_FS_UserGuide", "shortcut": "F1"}]},
            {"type": "button", "text": "About", "command": "IDC_FS_openAbout", "page": "about"})",
                                                        R"(, {"name": "about", "layout": "column", "items": [
            {"type": "button", "text": "Close", "command": "IDC_FS_closeAbout", "page": "main", "shortcut": "Esc"}]})");
        QVERIFY2(movie->loadDescription(json, {}, &error), qPrintable(error));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy spy(movie, &ToolbarMovie::commandTriggered);
        QSignalSpy pages(movie, &ToolbarMovie::pageChanged);

        QCOMPARE(movie->actionFor(QStringLiteral("IDC_FS_AddURL"))->toolTip(), QStringLiteral("Add a URL (Ctrl+N)"));
        QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(&window, Qt::Key_F1); // an entry of a closed menu
        QTest::keyClick(&window, Qt::Key_Escape); // belongs to the hidden about page
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).first().toString(), QStringLiteral("IDC_FS_AddURL"));
        QCOMPARE(spy.at(1).first().toString(), QStringLiteral("IDC_FS_UserGuide"));

        // Tab and Space press a button.
        QToolButton *settings = movie->buttonFor(QStringLiteral("IDC_FS_Settings"));
        settings->setFocus(Qt::TabFocusReason);
        QVERIFY(settings->hasFocus());
        QTest::keyClick(settings, Qt::Key_Space);
        QCOMPARE(spy.last().first().toString(), QStringLiteral("IDC_FS_Settings"));

        // The about button switches to its page, whose Esc closes it again.
        QTest::mouseClick(movie->buttonFor(QStringLiteral("IDC_FS_openAbout")), Qt::LeftButton);
        QCOMPARE(movie->currentPage(), QStringLiteral("about"));
        QCOMPARE(pages.count(), 1);
        QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier); // the main page's shortcut is off
        QCOMPARE(spy.last().first().toString(), QStringLiteral("IDC_FS_openAbout"));
        QTest::keyClick(&window, Qt::Key_Escape);
        QCOMPARE(spy.last().first().toString(), QStringLiteral("IDC_FS_closeAbout"));
        QCOMPARE(movie->currentPage(), QStringLiteral("main"));
        QVERIFY(!movie->showPage(QStringLiteral("nowhere")));
        QCOMPARE(movie->currentPage(), QStringLiteral("main"));
    }

    void pressOnTheBackgroundDrags()
    {
        ToolbarMovie movie;
        const QByteArray json = description(R"(
            {"type": "button", "text": "Go", "command": "IDC_FS_Go"}, {"type": "stretch"},
            {"type": "text", "text": "status"})");
        QVERIFY(movie.loadDescription(json));
        movie.resize(500, movie.sizeHint().height());
        movie.show();
        QSignalSpy spy(&movie, &ToolbarMovie::commandTriggered);
        auto *bar = movie.findChild<QToolBar *>();
        QVERIFY(bar);
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() / 2));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first(), (QVariantList{"IDC_FS_drag", ""}));
        QTest::mousePress(bar, Qt::RightButton, {}, QPoint(bar->width() / 2, bar->height() / 2));
        QCOMPARE(spy.count(), 1);
    }

    // Captions under the icons while they fit; icons only in a narrow window.
    void captionsGiveWayWhenNarrow()
    {
        ToolbarMovie movie;
        QVERIFY(movie.load(shippedFile(QStringLiteral("varnodm.swf"))));
        movie.resize(2000, movie.sizeHint().height());
        movie.show();
        QVERIFY(movie.captionsShown());
        const int wide = movie.sizeHint().width();
        QToolButton *add = movie.buttonFor(QStringLiteral("IDC_FS_AddURL"));
        QCOMPARE(add->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);

        movie.resize(wide - 1, movie.height());
        QVERIFY(!movie.captionsShown());
        QCOMPARE(add->toolButtonStyle(), Qt::ToolButtonIconOnly);
        QVERIFY(movie.sizeHint().width() < wide);

        movie.resize(wide, movie.height());
        QVERIFY(movie.captionsShown());
        QCOMPARE(movie.buttonFor(QStringLiteral("IDC_FS_close"))->toolButtonStyle(),
                 Qt::ToolButtonIconOnly); // an icon-only button stays so
    }

    void variablesUpdateBoundSlots_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("state");  // "Not connected" text
        QTest::addColumn<QString>("status"); // status text
        QTest::addColumn<int>("progress");
        QTest::addColumn<bool>("bound");
        QTest::newRow("connected maps to its text") << "_root.Connected" << "1" << "Connected" << "Ready" << 0 << true;
        QTest::newRow("value without a mapping shows itself") << "_root.Connected" << "2" << "2" << "Ready" << 0 << true;
        QTest::newRow("status text") << "_root.status_txt.text" << "Connected to host" << "Not connected" << "Connected to host" << 0 << true;
        QTest::newRow("progress value") << "_root.Progress_mc._xscale" << "37" << "Not connected" << "Ready" << 37 << true;
        QTest::newRow("progress rounds") << "_root.Progress_mc._xscale" << " 37.6 " << "Not connected" << "Ready" << 38 << true;
        QTest::newRow("progress above the range") << "_root.Progress_mc._xscale" << "250" << "Not connected" << "Ready" << 100 << true;
        QTest::newRow("progress below the range") << "_root.Progress_mc._xscale" << "-4" << "Not connected" << "Ready" << 0 << true;
        QTest::newRow("progress not a number") << "_root.Progress_mc._xscale" << "abc" << "Not connected" << "Ready" << 0 << true;
        QTest::newRow("unknown variable") << "_root.Nothing" << "1" << "Not connected" << "Ready" << 0 << false;
        QTest::newRow("names are case-sensitive") << "_root.connected" << "1" << "Not connected" << "Ready" << 0 << false;
    }

    void variablesUpdateBoundSlots()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, state);
        QFETCH(QString, status);
        QFETCH(int, progress);
        QFETCH(bool, bound);
        ToolbarMovie movie;
        QString error;
        const QByteArray json = description(R"(
            {"type": "text", "variable": "_root.Connected", "text": "Not connected", "values": {"0": "Not connected", "1": "Connected"}},
            {"type": "text", "variable": "_root.status_txt.text", "text": "Ready"},
            {"type": "progress", "variable": "_root.Progress_mc._xscale"})");
        QVERIFY2(movie.loadDescription(json, {}, &error), qPrintable(error));
        movie.setVariable(QStringLiteral("_root.Progress_mc._xscale"), QStringLiteral("10"));
        movie.setVariable(QStringLiteral("_root.Progress_mc._xscale"), QStringLiteral("0"));

        QCOMPARE(movie.setVariable(name, value), bound);
        QCOMPARE(movie.variable(name), bound ? value : QString());
        QStringList texts;
        for (QLabel *label : movie.findChildren<QLabel *>())
            texts << label->text();
        QCOMPARE(texts, (QStringList{state, status}));
        QCOMPARE(movie.findChild<QProgressBar *>()->value(), progress);
    }

    // Icons are drawn in the palette's button text colour, so they read on
    // light and dark palettes alike, and follow a palette change.
    void iconsFollowThePalette_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("command");
        QTest::newRow("Tessel") << QStringLiteral("varnodm.swf") << QStringLiteral("IDC_FS_AddURL");
        QTest::newRow("Corvane") << QStringLiteral("QFTP.swf") << QStringLiteral("IDC_FS_Connect");
    }

    void iconsFollowThePalette()
    {
        QFETCH(QString, file);
        QFETCH(QString, command);
        const QPalette light = makePalette(QColor(0xf4, 0xf5, 0xf7), QColor(0x20, 0x24, 0x2a), QColor(0xa0, 0xa4, 0xaa));
        const QPalette dark = makePalette(QColor(0x23, 0x26, 0x2b), QColor(0xe8, 0xea, 0xed), QColor(0x70, 0x74, 0x7a));
        ToolbarMovie movie;
        QVERIFY(movie.load(shippedFile(file)));
        movie.setVariable(QStringLiteral("_root.status_txt.text"), QStringLiteral("Connected to ftp.example.org"));
        movie.setVariable(QStringLiteral("_root.Progress_mc._xscale"), QStringLiteral("42"));
        movie.resize(qMax(movie.sizeHint().width(), 700), movie.sizeHint().height());
        QAction *action = movie.actionFor(command);

        const QString shots = qEnvironmentVariable("SUITE_SCREENSHOT_DIR");
        for (const auto &[palette, name] : {std::pair{light, "light"}, std::pair{dark, "dark"}}) {
            movie.setPalette(palette);
            QCOMPARE(inkOf(action->icon()), palette.color(QPalette::ButtonText));
            action->setEnabled(false);
            QCOMPARE(inkOf(action->icon().pixmap(QSize(24, 24), QIcon::Disabled)),
                     palette.color(QPalette::Disabled, QPalette::ButtonText));
            action->setEnabled(true);
            if (!shots.isEmpty()) {
                const QString base = QFileInfo(file).baseName();
                movie.grab().save(QDir(shots).filePath(QStringLiteral("toolbar-%1-%2.png").arg(base, name)));
                movie.showPage(QStringLiteral("about"));
                movie.resize(700, 300);
                movie.grab().save(QDir(shots).filePath(QStringLiteral("toolbar-%1-%2-about.png").arg(base, name)));
                movie.showPage(QStringLiteral("main"));
                movie.resize(qMax(movie.sizeHint().width(), 700), movie.sizeHint().height());
            }
        }
    }

    void iconFilesBesideTheDescription()
    {
        QTemporaryDir dir;
        const QByteArray svg = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><rect width="24" height="24" fill="currentColor"/></svg>)";
        QVERIFY(writeFile(dir.filePath(QStringLiteral("own.svg")), svg));
        const QString path = dir.filePath(QStringLiteral("bar.swf"));
        const QByteArray json = description(R"(
            {"type": "button", "icon": "own.svg", "text": "Own", "command": "IDC_FS_Own"},
            {"type": "button", "icon": "missing.svg", "text": "Missing", "command": "IDC_FS_Missing"})");
        QVERIFY(writeFile(path, json));
        ToolbarMovie movie;
        movie.setPalette(makePalette(Qt::white, QColor(0x11, 0x22, 0x33), Qt::gray));
        QVERIFY(movie.load(path));
        QCOMPARE(inkOf(movie.actionFor(QStringLiteral("IDC_FS_Own"))->icon()), QColor(0x11, 0x22, 0x33));
        QVERIFY(movie.actionFor(QStringLiteral("IDC_FS_Missing"))->icon().isNull()); // the text still shows
    }
};

QTEST_MAIN(TestToolbarMovie)
#include "tst_toolbarmovie.moc"
