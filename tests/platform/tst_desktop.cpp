// Program directory, start-up entries, single instance and dialog filters.
#include "platform/autostart.h"
#include "platform/programdir.h"
#include "platform/prompts.h"
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <signal.h>
#include <unistd.h>

// Child mode: take the lock and wait to be killed.
static int runChildHolder(const QString &dir)
{
    SingleInstance instance(QStringLiteral("holder"), dir);
    if (!instance.tryAcquire())
        return 3;
    fputs("held\n", stdout);
    fflush(stdout);
    for (int i = 0; i < 600; ++i) // bounded: at most a minute
        QThread::msleep(100);
    return 0;
}

class TestDesktop : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void joinPathUsesOneSeparator_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("joined");
        QTest::newRow("plain") << "/opt/app" << "History.ini" << "/opt/app/History.ini";
        QTest::newRow("trailing slash") << "/opt/app/" << "History.ini" << "/opt/app/History.ini";
        QTest::newRow("leading backslash") << "/opt/app" << "\\Corvane" << "/opt/app/Corvane";
        QTest::newRow("both") << "/opt/app//" << "/Lang-I" << "/opt/app/Lang-I";
        QTest::newRow("root") << "/" << "x" << "/x";
    }

    void joinPathUsesOneSeparator()
    {
        QFETCH(QString, dir);
        QFETCH(QString, name);
        QFETCH(QString, joined);
        QCOMPARE(joinPath(dir, name), joined);
    }

    void programDirectoryChoice()
    {
        // A writable executable directory is the program directory.
        const QString exeDir = m_dir.filePath(QStringLiteral("exe"));
        QVERIFY(QDir().mkpath(exeDir));
        qunsetenv(ProgramDir::OverrideVariable);
        QCOMPARE(ProgramDir::locate(exeDir).path(), exeDir);

        // The override wins.
        const QString forced = m_dir.filePath(QStringLiteral("forced"));
        qputenv(ProgramDir::OverrideVariable, QFile::encodeName(forced));
        const ProgramDir dir = ProgramDir::locate(exeDir);
        qunsetenv(ProgramDir::OverrideVariable);
        QCOMPARE(dir.path(), forced);
        QVERIFY(QFileInfo(forced).isDir());
        QCOMPARE(dir.file(QStringLiteral("Settings.ini")), forced + QStringLiteral("/Settings.ini"));
    }

    // An installed program (executables in <prefix>/bin, shipped files in
    // <prefix>/share/tessel-suite) works in the per-user directory, seeded
    // from the shared files, even where bin is writable.
    void installedProgramsUseTheirSharedFiles()
    {
        const QString prefix = m_dir.filePath(QStringLiteral("prefix"));
        const QString bin = prefix + QStringLiteral("/bin");
        const QString shared = prefix + QStringLiteral("/share/tessel-suite");
        QVERIFY(QDir().mkpath(bin));
        QCOMPARE(ProgramDir::sharedDataDir(bin), QString());
        QVERIFY(QDir().mkpath(shared + QStringLiteral("/Lang-I")));
        QFile language(shared + QStringLiteral("/Lang-I/English.ini"));
        QVERIFY(language.open(QIODevice::WriteOnly));
        language.write("[DM]\r\n");
        language.close();
        QVERIFY(QDir().mkpath(shared + QStringLiteral("/help")));
        QFile guide(shared + QStringLiteral("/help/index.html"));
        QVERIFY(guide.open(QIODevice::WriteOnly));
        guide.close();
        QCOMPARE(ProgramDir::sharedDataDir(bin), shared);

        const QString dataHome = m_dir.filePath(QStringLiteral("data"));
        const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
        qunsetenv(ProgramDir::OverrideVariable);
        const ProgramDir dir = ProgramDir::locate(bin);
        if (oldDataHome.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldDataHome);
        QCOMPARE(dir.path(), dataHome + QStringLiteral("/tessel-suite"));
        QFile copy(dir.file(QStringLiteral("Lang-I/English.ini")));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("[DM]\r\n"));
        QVERIFY(QFile::exists(dir.file(QStringLiteral("help/index.html")))); // the user guide
        QVERIFY(!QFile::exists(bin + QStringLiteral("/Lang-I")));
    }

    void seedingCopiesOnlyMissingFiles()
    {
        const QString shipped = m_dir.filePath(QStringLiteral("shipped"));
        QVERIFY(QDir().mkpath(shipped + QStringLiteral("/Lang-I")));
        QFile a(shipped + QStringLiteral("/Lang-I/English.ini"));
        QVERIFY(a.open(QIODevice::WriteOnly));
        a.write("[DM]\r\n");
        a.close();
        QFile b(shipped + QStringLiteral("/QFTP.skn"));
        QVERIFY(b.open(QIODevice::WriteOnly));
        b.write("new skin");
        b.close();

        const QString user = m_dir.filePath(QStringLiteral("user"));
        QVERIFY(QDir().mkpath(user));
        QFile existing(user + QStringLiteral("/QFTP.skn"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("my skin");
        existing.close();

        ProgramDir(user).seedFrom(shipped, {QStringLiteral("Lang-I"), QStringLiteral("QFTP.skn"), QStringLiteral("absent")});
        QVERIFY(QFile::exists(user + QStringLiteral("/Lang-I/English.ini")));
        QFile kept(user + QStringLiteral("/QFTP.skn"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("my skin"));
    }

    void autostartEntryFollowsInstallAndRemove()
    {
        Autostart autostart(m_dir.filePath(QStringLiteral("autostart")));
        const QString exe = QStringLiteral("/opt/my apps/tessel");
        QVERIFY(!autostart.isInstalled(QStringLiteral("Tessel")));
        QVERIFY(autostart.install(QStringLiteral("Tessel"), exe));
        QVERIFY(autostart.isInstalled(QStringLiteral("Tessel")));
        QCOMPARE(autostart.entryPath(QStringLiteral("Tessel")), m_dir.filePath(QStringLiteral("autostart/Tessel.desktop")));
        QCOMPARE(autostart.installedExecutable(QStringLiteral("Tessel")), exe);

        QFile entry(autostart.entryPath(QStringLiteral("Tessel")));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("Type=Application\n"));
        QVERIFY(text.contains("Exec=\"/opt/my apps/tessel\"\n"));

        QVERIFY(autostart.remove(QStringLiteral("Tessel")));
        QVERIFY(!autostart.isInstalled(QStringLiteral("Tessel")));
        QVERIFY(autostart.remove(QStringLiteral("Tessel"))); // removing twice is fine
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "/usr/bin/tessel" << "/usr/bin/tessel";
        QTest::newRow("space") << "/a b/t" << "\"/a b/t\"";
        QTest::newRow("dollar") << "/a$b/t" << "\"/a\\$b/t\"";
        QTest::newRow("percent") << "/a%b/t" << "/a%%b/t";
        QTest::newRow("quote") << "/a\"b/t" << "\"/a\\\"b/t\"";
    }

    void execQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, quoted);
        QCOMPARE(Autostart::quoteExec(path), quoted);
    }

    void secondInstanceIsRefused()
    {
        const QString dir = m_dir.filePath(QStringLiteral("locks"));
        SingleInstance first(QStringLiteral("tessel"), dir);
        QVERIFY(first.tryAcquire());
        SingleInstance second(QStringLiteral("tessel"), dir);
        QVERIFY(!second.tryAcquire());
        SingleInstance other(QStringLiteral("corvane"), dir);
        QVERIFY(other.tryAcquire());
        first.release();
        QVERIFY(second.tryAcquire());
    }

    // Without a runtime directory the lock goes to a private folder in the
    // temporary folder; a name someone else took first is not used.
    void defaultDirectoryIsPrivate_data()
    {
        QTest::addColumn<QString>("planted"); // what waits at the name: "", "open folder", "link", "other user"
        QTest::addColumn<bool>("inTemp");
        QTest::newRow("nothing there") << QString() << true;
        QTest::newRow("our folder, open to all: tightened") << QStringLiteral("open folder") << true;
        QTest::newRow("a link to a folder of someone else") << QStringLiteral("link") << false;
        QTest::newRow("a folder of another user") << QStringLiteral("other user") << false;
    }

    void defaultDirectoryIsPrivate()
    {
        QFETCH(QString, planted);
        QFETCH(bool, inTemp);
        if (planted == QLatin1String("other user") && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QTemporaryDir scratch;
        const QString temp = scratch.filePath(QStringLiteral("tmp"));
        const QString home = scratch.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(temp) && QDir().mkpath(home));
        const QString name = temp + QStringLiteral("/tessel-suite-") + QString::number(::getuid());
        const QString elsewhere = scratch.filePath(QStringLiteral("elsewhere"));
        if (planted == QLatin1String("open folder") || planted == QLatin1String("other user")) {
            QVERIFY(QDir().mkpath(name));
            QVERIFY(QFile::setPermissions(name, QFileDevice::Permissions(0x7777)));
            if (planted == QLatin1String("other user"))
                QCOMPARE(::chown(QFile::encodeName(name).constData(), 65534, 65534), 0);
        } else if (planted == QLatin1String("link")) {
            QVERIFY(QDir().mkpath(elsewhere));
            QVERIFY(QFile::link(elsewhere, name));
        }
        const QByteArray saved[] = {qgetenv("XDG_RUNTIME_DIR"), qgetenv("TMPDIR"), qgetenv("HOME")};
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(temp));
        qputenv("HOME", QFile::encodeName(home));
        const QString chosen = SingleInstance::defaultDirectory();
        const char *names[] = {"XDG_RUNTIME_DIR", "TMPDIR", "HOME"};
        for (int i = 0; i < 3; ++i)
            saved[i].isNull() ? qunsetenv(names[i]) : qputenv(names[i], saved[i]);

        QCOMPARE(chosen, inTemp ? name : home + QStringLiteral("/.cache/tessel-suite"));
        const QFileInfo info(chosen);
        QVERIFY(info.isDir() && !info.isSymLink());
        QCOMPARE(info.ownerId(), uint(::geteuid()));
        QCOMPARE(int(info.permissions() & 0x0077), 0); // nobody else may enter
        QVERIFY(QDir(elsewhere).isEmpty());
        SingleInstance instance(QStringLiteral("tessel"), chosen);
        QVERIFY(instance.tryAcquire());
    }

    void lockOfAnotherLiveProcessHoldsAndStaleLockIsTakenOver()
    {
        const QString dir = m_dir.filePath(QStringLiteral("stale"));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-holder"), dir});
        QVERIFY(child.waitForReadyRead(20000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("held"));

        SingleInstance me(QStringLiteral("holder"), dir);
        QVERIFY(!me.tryAcquire());

        ::kill(pid_t(child.processId()), SIGKILL); // a crash: the lock file stays behind
        QVERIFY(child.waitForFinished(20000));
        QVERIFY(QFile::exists(me.lockPath()));
        QVERIFY(me.tryAcquire());
    }

    void fileDialogFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all files") << "All Files(*.*)|*.*" << QStringList{"All Files (*)"};
        QTest::newRow("two") << "Text|*.txt;*.log|Images (*.png)|*.png"
                             << QStringList{"Text (*.txt *.log)", "Images (*.png)"};
        QTest::newRow("empty") << "" << QStringList{};
    }

    void fileDialogFilters()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        QCOMPARE(filterToNameFilters(filter), expected);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child-holder") == 0)
        return runChildHolder(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
