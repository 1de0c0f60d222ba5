#include "platform/registrystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Child mode: write `count` values named <prefix><i> into the store, each a
// separate locked write, racing another child doing the same.
static int runChildWriter(const QString &file, const QString &prefix, int count)
{
    RegistryStore store(file);
    for (int i = 0; i < count; ++i) {
        if (!store.setValue(QStringLiteral("Software\\Race"), prefix + QString::number(i), QString::number(i)))
            return 2;
    }
    return 0;
}

class TestRegistryStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString file(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private Q_SLOTS:
    void valuesPersistAcrossInstances()
    {
        const QString path = file("persist.json");
        {
            RegistryStore store(path);
            QVERIFY(store.setValue(QStringLiteral("Software\\A\\B"), QStringLiteral("Name"), QStringLiteral("one")));
            QVERIFY(store.setValue(QStringLiteral("Software\\A\\B"), QString(), QStringLiteral("default")));
        }
        RegistryStore again(path);
        QCOMPARE(again.value(QStringLiteral("Software\\A\\B"), QStringLiteral("Name")).value_or(QString()),
                 QStringLiteral("one"));
        QCOMPARE(again.value(QStringLiteral("Software\\A\\B"), QString()).value_or(QString()), QStringLiteral("default"));
        QVERIFY(!again.value(QStringLiteral("Software\\A\\B"), QStringLiteral("Other")).has_value());
        QVERIFY(!again.value(QStringLiteral("Software\\Missing"), QStringLiteral("Name")).has_value());
    }

    void namesIgnoreCaseAndKeepTheirSpelling()
    {
        RegistryStore store(file("case.json"));
        QVERIFY(store.setValue(QStringLiteral("Software\\Quorin\\DM"), QStringLiteral("Timeout"), QStringLiteral("60")));
        QCOMPARE(store.value(QStringLiteral("SOFTWARE\\quorin\\dm"), QStringLiteral("TIMEOUT")).value_or(QString()),
                 QStringLiteral("60"));
        QVERIFY(store.setValue(QStringLiteral("software\\QUORIN\\dm"), QStringLiteral("timeout"), QStringLiteral("90")));
        QCOMPARE(store.valueNames(QStringLiteral("Software\\Quorin\\DM")), QStringList{QStringLiteral("Timeout")});
        QCOMPARE(store.subKeys(QStringLiteral("Software")), QStringList{QStringLiteral("Quorin")});
        QCOMPARE(store.value(QStringLiteral("Software\\Quorin\\DM"), QStringLiteral("Timeout")).value_or(QString()),
                 QStringLiteral("90"));
    }

    void subKeysAreOneLevelDeep()
    {
        RegistryStore store(file("tree.json"));
        QVERIFY(store.createKey(QStringLiteral("Root\\One\\Deep")));
        QVERIFY(store.createKey(QStringLiteral("Root\\Two")));
        QVERIFY(store.keyExists(QStringLiteral("Root\\One")));
        QStringList keys = store.subKeys(QStringLiteral("Root"));
        keys.sort();
        QCOMPARE(keys, (QStringList{QStringLiteral("One"), QStringLiteral("Two")}));
        QCOMPARE(store.subKeys(QStringLiteral("Root\\One")), QStringList{QStringLiteral("Deep")});
        QVERIFY(store.subKeys(QStringLiteral("Nowhere")).isEmpty());
    }

    void deletingValuesAndKeys()
    {
        RegistryStore store(file("delete.json"));
        QVERIFY(store.setValue(QStringLiteral("K\\Sub"), QStringLiteral("v"), QStringLiteral("1")));
        QVERIFY(store.setValue(QStringLiteral("K\\Sub\\Child"), QStringLiteral("w"), QStringLiteral("2")));
        QVERIFY(store.setValue(QStringLiteral("K\\Other"), QStringLiteral("x"), QStringLiteral("3")));
        QVERIFY(store.deleteValue(QStringLiteral("K\\Sub"), QStringLiteral("V")));
        QVERIFY(!store.deleteValue(QStringLiteral("K\\Sub"), QStringLiteral("v"))); // already gone
        QVERIFY(store.keyExists(QStringLiteral("K\\Sub")));
        QVERIFY(store.deleteKey(QStringLiteral("k\\sub")));
        QVERIFY(!store.keyExists(QStringLiteral("K\\Sub")));
        QVERIFY(!store.keyExists(QStringLiteral("K\\Sub\\Child")));
        QVERIFY(store.keyExists(QStringLiteral("K\\Other")));
        QVERIFY(!store.deleteKey(QStringLiteral("K\\Sub")));
    }

    void fileIsOwnerOnly()
    {
        const QString path = file("perms.json");
        RegistryStore store(path);
        QVERIFY(store.setValue(QStringLiteral("K"), QStringLiteral("secret"), QStringLiteral("pw")));
        const auto perms = QFile::permissions(path);
        QVERIFY(perms & QFile::ReadOwner);
        QVERIFY(!(perms & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther)));
    }

    void refusedWriteReturnsFalse()
    {
        // The store's directory cannot be created: a file stands where it would be.
        QFile blocker(file("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        RegistryStore store(file("blocker") + QStringLiteral("/sub/store.json"));
        QVERIFY(!store.setValue(QStringLiteral("K"), QStringLiteral("v"), QStringLiteral("1")));
        QVERIFY(!store.value(QStringLiteral("K"), QStringLiteral("v")).has_value());
    }

    void seesWritesOfAnotherInstance()
    {
        const QString path = file("shared.json");
        RegistryStore first(path);
        RegistryStore second(path);
        QVERIFY(first.setValue(QStringLiteral("K"), QStringLiteral("a"), QStringLiteral("1")));
        QCOMPARE(second.value(QStringLiteral("K"), QStringLiteral("a")).value_or(QString()), QStringLiteral("1"));
        QVERIFY(second.setValue(QStringLiteral("K"), QStringLiteral("b"), QStringLiteral("2")));
        QVERIFY(first.setValue(QStringLiteral("K"), QStringLiteral("c"), QStringLiteral("3")));
        // Neither writer lost the other's value.
        QCOMPARE(first.value(QStringLiteral("K"), QStringLiteral("b")).value_or(QString()), QStringLiteral("2"));
        QCOMPARE(second.value(QStringLiteral("K"), QStringLiteral("c")).value_or(QString()), QStringLiteral("3"));
    }

    void concurrentWritersInTwoProcesses()
    {
        const QString path = file("race.json");
        const int count = 60;
        QProcess a, b;
        const QString self = QCoreApplication::applicationFilePath();
        a.start(self, {QStringLiteral("--child-writer"), path, QStringLiteral("a"), QString::number(count)});
        b.start(self, {QStringLiteral("--child-writer"), path, QStringLiteral("b"), QString::number(count)});
        QVERIFY(a.waitForFinished(60000));
        QVERIFY(b.waitForFinished(60000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        RegistryStore store(path);
        QCOMPARE(store.valueNames(QStringLiteral("Software\\Race")).size(), 2 * count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(store.value(QStringLiteral("Software\\Race"), QStringLiteral("a%1").arg(i)).value_or(QString()),
                     QString::number(i));
            QCOMPARE(store.value(QStringLiteral("Software\\Race"), QStringLiteral("b%1").arg(i)).value_or(QString()),
                     QString::number(i));
        }
    }

    void corruptFileIsSetAsideAndReported()
    {
        const QString path = file("corrupt.json");
        QFile broken(path);
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{ this is not a store");
        broken.close();

        QStringList errors;
        RegistryStore store(path, [&](const QString &m) { errors.append(m); });
        QVERIFY(!store.value(QStringLiteral("K"), QStringLiteral("v")).has_value());
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(path));
        QVERIFY(!QFile::exists(path));
        const QStringList aside = QDir(m_dir.path()).entryList({QStringLiteral("corrupt.json.corrupt-*")});
        QCOMPARE(aside.size(), 1);

        // The store works again from defaults.
        QVERIFY(store.setValue(QStringLiteral("K"), QStringLiteral("v"), QStringLiteral("fresh")));
        RegistryStore again(path);
        QCOMPARE(again.value(QStringLiteral("K"), QStringLiteral("v")).value_or(QString()), QStringLiteral("fresh"));
        QCOMPARE(errors.size(), 1);
    }

    void wrongShapeCountsAsCorrupt()
    {
        const QString path = file("shape.json");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"keys": {"K": {"v": 5}}})");
        f.close();
        int errors = 0;
        RegistryStore store(path, [&](const QString &) { ++errors; });
        QVERIFY(!store.keyExists(QStringLiteral("K")));
        QCOMPARE(errors, 1);
    }

    void registryKeepsRootsApart()
    {
        Registry registry(m_dir.filePath(QStringLiteral("roots")));
        QVERIFY(registry.root(RegistryRoot::LocalMachine).setValue(QStringLiteral("K"), QStringLiteral("v"), QStringLiteral("m")));
        QVERIFY(!registry.root(RegistryRoot::CurrentUser).value(QStringLiteral("K"), QStringLiteral("v")).has_value());
        QVERIFY(QFile::exists(registry.root(RegistryRoot::LocalMachine).filePath()));
    }
};

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child-writer") == 0)
        return runChildWriter(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    QCoreApplication app(argc, argv);
    TestRegistryStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registrystore.moc"
