// Checks the shipped skin file: Qt accepts it as a style sheet, its selectors
// on the skin element names take effect, and it follows the application
// palette so a dark desktop stays dark.

#include "platform/ui/skin.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {

QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        g_warnings.append(message);
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// Warnings Qt gives for a style sheet it rejects in whole or in part.
QStringList sheetProblems()
{
    QStringList problems;
    for (const QString &w : std::as_const(g_warnings)) {
        if (w.contains(QLatin1String("stylesheet"), Qt::CaseInsensitive)
            || w.contains(QLatin1String("style sheet"), Qt::CaseInsensitive)
            || w.contains(QLatin1String("Unknown property"), Qt::CaseInsensitive))
            problems.append(w);
    }
    return problems;
}

QString shippedSkinPath()
{
    return qEnvironmentVariable("SUITE_SOURCE_DIR") + QStringLiteral("/resources/skin/QFTP.skn");
}

QPalette darkPalette()
{
    // Built like a desktop dark scheme: the derived roles (light, mid, dark)
    // come from the button colour, the disabled group is greyed.
    QPalette p(QColor(0x3a, 0x3c, 0x40), QColor(0x2b, 0x2d, 0x31));
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Base, QColor(0x1f, 0x21, 0x24));
    p.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2d, 0x31));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8e, 0xe0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0x1f, 0x21, 0x24));
    p.setColor(QPalette::ToolTipText, QColor(0xe8, 0xe8, 0xe8));
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(QPalette::Disabled, role, QColor(0x80, 0x82, 0x86));
    return p;
}

double meanLightness(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    qint64 sum = 0;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            sum += qGray(rgb.pixel(x, y));
    const qint64 count = qint64(rgb.width()) * rgb.height();
    return count ? double(sum) / double(count) : 0.0;
}

// A settings-like dialog that uses every element name.
std::unique_ptr<QWidget> buildSampleWindow(const QString &windowName)
{
    auto window = std::make_unique<QWidget>();
    window->setAttribute(Qt::WA_StyledBackground);
    window->setWindowTitle(QStringLiteral("Settings"));
    Skin::registerWindow(window.get(), windowName);

    auto *outer = new QVBoxLayout(window.get());
    outer->setContentsMargins(9, 9, 9, 0);

    auto *tabs = new QTabWidget;
    Skin::registerControl(tabs, QStringLiteral("Tab"));
    auto *page = new QWidget;
    tabs->addTab(page, QStringLiteral("Connections"));
    tabs->addTab(new QWidget, QStringLiteral("Limits"));
    tabs->addTab(new QWidget, QStringLiteral("Login"));
    tabs->setTabEnabled(2, false);

    auto *pageLayout = new QVBoxLayout(page);
    auto *caption = new QLabel(QStringLiteral("Timeout Connection Attempt After 60 seconds"));
    Skin::registerControl(caption, QStringLiteral("Label"));
    pageLayout->addWidget(caption);

    auto *existing = new QGroupBox(QStringLiteral("Existing Files:- "));
    Skin::registerControl(existing, QStringLiteral("Frame"));
    auto *existingLayout = new QHBoxLayout(existing);
    for (const char *text : {"Do not download", "Resume", "Overwrite"}) {
        auto *option = new QRadioButton(QString::fromLatin1(text));
        Skin::registerControl(option, QStringLiteral("radioBox"));
        existingLayout->addWidget(option);
        option->setChecked(option->text() == QLatin1String("Resume"));
    }
    pageLayout->addWidget(existing);

    auto *options = new QGroupBox(QStringLiteral("Options"));
    Skin::registerControl(options, QStringLiteral("NoFrame"));
    auto *optionsLayout = new QVBoxLayout(options);
    auto *retry = new QCheckBox(QStringLiteral("Retry after timeout or log in error (server is busy)."));
    retry->setChecked(true);
    auto *proxy = new QCheckBox(QStringLiteral("Use Proxy Server"));
    auto *login = new QCheckBox(QStringLiteral("Login to HTTP proxy server"));
    login->setEnabled(false);
    for (QCheckBox *box : {retry, proxy, login}) {
        Skin::registerControl(box, QStringLiteral("checkBox"));
        optionsLayout->addWidget(box);
    }
    pageLayout->addWidget(options);
    pageLayout->addStretch(1);
    outer->addWidget(tabs, 1);

    auto *buttons = new QHBoxLayout;
    auto *help = new QPushButton(QStringLiteral("&Help"));
    help->setAttribute(Qt::WA_UnderMouse); // shows the hover state
    buttons->addWidget(help);
    buttons->addStretch(1);
    auto *ok = new QPushButton(QStringLiteral("&OK"));
    ok->setDefault(true);
    ok->setObjectName(QStringLiteral("ok"));
    auto *cancel = new QPushButton(QStringLiteral("&Cancel"));
    cancel->setDown(true); // shows the pressed state
    auto *apply = new QPushButton(QStringLiteral("&Apply"));
    apply->setEnabled(false);
    for (QPushButton *button : {help, ok, cancel, apply})
        Skin::registerControl(button, QStringLiteral("Button"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(apply);
    outer->addLayout(buttons);

    auto *status = new QStatusBar;
    status->setSizeGripEnabled(false);
    Skin::registerControl(status, QStringLiteral("StatusBar"));
    status->showMessage(QStringLiteral("Total Transfer Rate: 0.00 Kbps"));
    outer->addWidget(status);

    window->resize(480, 340);
    return window;
}

// One control of the kind that carries element; with the same text and size a
// registered and an unregistered twin differ only by the skin.
QWidget *makeControl(const QString &element, QWidget *parent)
{
    QWidget *w = nullptr;
    if (element == QLatin1String("Button")) {
        w = new QPushButton(QStringLiteral("&Resume"), parent);
    } else if (element == QLatin1String("Frame") || element == QLatin1String("NoFrame")) {
        w = new QGroupBox(QStringLiteral("File Info"), parent);
    } else if (element == QLatin1String("checkBox")) {
        auto *box = new QCheckBox(QStringLiteral("Use PASV Mode"), parent);
        box->setChecked(true);
        w = box;
    } else if (element == QLatin1String("radioBox")) {
        auto *option = new QRadioButton(QStringLiteral("Today Only"), parent);
        option->setChecked(true);
        w = option;
    } else if (element == QLatin1String("StatusBar")) {
        auto *bar = new QStatusBar(parent);
        bar->setSizeGripEnabled(false);
        bar->showMessage(QStringLiteral("Ready"));
        w = bar;
    } else if (element == QLatin1String("Tab")) {
        auto *bar = new QTabBar(parent);
        bar->addTab(QStringLiteral("Information"));
        bar->addTab(QStringLiteral("Startup"));
        w = bar;
    }
    return w;
}

} // namespace

class TestSkinFile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void shippedSheetIsAccepted();
    void brokenSheetIsNoticed();
    void elementSelectorsTakeEffect_data();
    void elementSelectorsTakeEffect();
    void sheetFollowsLightAndDarkPalettes();

private:
    QPalette m_lightPalette;
};

void TestSkinFile::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("SUITE_SOURCE_DIR"), "SUITE_SOURCE_DIR must name the source tree");
    QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    QVERIFY(fusion);
    QApplication::setStyle(fusion);
    m_lightPalette = QApplication::style()->standardPalette();
    QApplication::setPalette(m_lightPalette);
    g_previousHandler = qInstallMessageHandler(recordWarnings);
}

void TestSkinFile::cleanup()
{
    qApp->setStyleSheet(QString());
    QApplication::setPalette(m_lightPalette);
    g_warnings.clear();
}

void TestSkinFile::shippedSheetIsAccepted()
{
    Skin skin(shippedSkinPath());
    QVERIFY2(skin.load(), qPrintable(shippedSkinPath()));
    QVERIFY(!skin.styleSheet().trimmed().isEmpty());
    QCOMPARE(qApp->styleSheet(), skin.styleSheet());

    // Qt parses the sheet when the first widget is polished: show and paint.
    auto window = buildSampleWindow(QStringLiteral("secondForm"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(!window->grab().isNull());

    auto main = buildSampleWindow(QStringLiteral("Main"));
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    QVERIFY(!main->grab().isNull());

    const QStringList problems = sheetProblems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

// The warning check above is only worth something if a bad sheet trips it.
void TestSkinFile::brokenSheetIsNoticed()
{
    qApp->setStyleSheet(QStringLiteral("QPushButton[skinElement=\"Button\"] { border: 1px solid ; } } { ]"));
    auto window = buildSampleWindow(QStringLiteral("secondForm"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->grab();
    QVERIFY(!sheetProblems().isEmpty());
}

void TestSkinFile::elementSelectorsTakeEffect_data()
{
    QTest::addColumn<QString>("element");
    for (const char *name : {"Button", "Frame", "NoFrame", "checkBox", "radioBox", "StatusBar", "Tab"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestSkinFile::elementSelectorsTakeEffect()
{
    QFETCH(QString, element);
    Skin skin(shippedSkinPath());
    QVERIFY(skin.load());

    QWidget window;
    window.setAttribute(Qt::WA_StyledBackground);
    Skin::registerWindow(&window, QStringLiteral("secondForm"));
    auto *layout = new QHBoxLayout(&window);
    QWidget *registered = makeControl(element, &window);
    QWidget *plain = makeControl(element, &window);
    QVERIFY(registered && plain);
    Skin::registerControl(registered, element);
    layout->addWidget(registered);
    layout->addWidget(plain);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The sheet's minimum sizes are applied when the controls are polished;
    // fix both twins to the same size again afterwards.
    registered->setFixedSize(160, 48);
    plain->setFixedSize(160, 48);
    layout->activate();

    const QImage skinned = registered->grab().toImage();
    const QImage platform = plain->grab().toImage();
    QCOMPARE(skinned.size(), platform.size());
    QVERIFY2(skinned != platform, qPrintable(element + QLatin1String(" renders like an unregistered control")));

    // A misspelt element name must not pick up the rules.
    Skin::registerControl(plain, element.toUpper() + QLatin1String("x"));
    Skin::repolish(&window);
    QCOMPARE(plain->grab().toImage(), platform);
}

void TestSkinFile::sheetFollowsLightAndDarkPalettes()
{
    const QString snapshotDir = qEnvironmentVariable("SKIN_SNAPSHOT_DIR");
    struct Case {
        const char *name;
        QPalette palette;
    };
    const Case cases[] = {{"light", m_lightPalette}, {"dark", darkPalette()}};
    double lightness[2] = {0.0, 0.0};
    int i = 0;
    for (const Case &c : cases) {
        QApplication::setPalette(c.palette);
        Skin skin(shippedSkinPath());
        QVERIFY(skin.load());
        auto window = buildSampleWindow(QStringLiteral("secondForm"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->findChild<QPushButton *>(QStringLiteral("ok"))->setFocus();
        const QImage image = window->grab().toImage();
        QVERIFY(!image.isNull());
        if (!snapshotDir.isEmpty())
            image.save(QDir(snapshotDir).filePath(QStringLiteral("skin-%1.png").arg(QLatin1String(c.name))));
        lightness[i++] = meanLightness(image);
        qApp->setStyleSheet(QString());
    }
    // Fixed light colours in the sheet would leave the dark window bright.
    QVERIFY2(lightness[0] > 170.0, qPrintable(QString::number(lightness[0])));
    QVERIFY2(lightness[1] < 90.0, qPrintable(QString::number(lightness[1])));
    QVERIFY(sheetProblems().isEmpty());
}

QTEST_MAIN(TestSkinFile)
#include "tst_skinfile.moc"
