#include "ftpclient/ui/frmremotechangemode.h"

#include "config/cregister.h"
#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

// Weights of [who][what]: owner 400/200/100, group 40/20/10, other 4/2/1.
constexpr int Weights[3][3] = {{400, 200, 100}, {40, 20, 10}, {4, 2, 1}};

} // namespace

frmRemoteChangeMode::frmRemoteChangeMode(CRegister *reg, QWidget *parent) : QDialog(parent), m_reg(reg)
{
    setObjectName(QStringLiteral("frmRemoteChangeMode"));
    setWindowTitle(QStringLiteral("Change Mode"));
    setModal(true);

    static const char *const who[] = {"Owner", "Group", "Other"};
    static const char *const what[] = {"Read", "Write", "Execute"};
    static const char *const names[3][3] = {{"chkOwnerRead", "chkOwnerWrite", "chkOwnerExecute"},
                                            {"chkGroupRead", "chkGroupWrite", "chkGroupExecute"},
                                            {"chkOtherRead", "chkOtherWrite", "chkOtherExecute"}};
    auto *grid = new QGridLayout;
    for (int w = 0; w < 3; ++w) {
        grid->addWidget(new QLabel(QString::fromLatin1(who[w]), this), 0, w);
        for (int x = 0; x < 3; ++x) {
            auto *box = new QCheckBox(QString::fromLatin1(what[x]), this);
            box->setObjectName(QString::fromLatin1(names[w][x]));
            chk[w][x] = box;
            grid->addWidget(box, x + 1, w);
            connect(box, &QCheckBox::toggled, this, [this, w, x](bool on) { boxToggled(w, x, on); });
        }
    }
    txtNumericValue = new QLineEdit(QStringLiteral("0"), this);
    txtNumericValue->setObjectName(QStringLiteral("txtNumericValue"));
    txtNumericValue->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]{0,3}")), txtNumericValue));
    connect(txtNumericValue, &QLineEdit::textEdited, this, &frmRemoteChangeMode::numberEdited);

    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdOK, &QPushButton::clicked, this, [this] {
        chmodResult = 1;
        accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        chmodResult = 0;
        reject();
    });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(txtNumericValue);
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    SkinForm(this, SecondWindowSkinName, SkinFlavour::CorvaneDialog);
}

frmRemoteChangeMode::~frmRemoteChangeMode() = default;

int frmRemoteChangeMode::numericValue() const
{
    return m_value;
}

void frmRemoteChangeMode::boxToggled(int who, int what, bool on)
{
    if (m_updating)
        return;
    m_value += on ? Weights[who][what] : -Weights[who][what];
    txtNumericValue->setText(QString::number(m_value));
}

bool frmRemoteChangeMode::setNumericValue(int mode)
{
    if (mode < 0 || mode > 777 || mode % 10 > 7 || mode / 10 % 10 > 7)
        return false;
    m_updating = true;
    const int digits[3] = {mode / 100, mode / 10 % 10, mode % 10};
    for (int w = 0; w < 3; ++w) {
        chk[w][0]->setChecked(digits[w] & 4);
        chk[w][1]->setChecked(digits[w] & 2);
        chk[w][2]->setChecked(digits[w] & 1);
    }
    m_updating = false;
    m_value = mode;
    txtNumericValue->setText(QString::number(mode));
    return true;
}

void frmRemoteChangeMode::numberEdited(const QString &text)
{
    // The boxes follow a typed number; the text itself stays as typed.
    const int mode = text.isEmpty() ? 0 : text.toInt();
    m_updating = true;
    const int digits[3] = {mode / 100, mode / 10 % 10, mode % 10};
    for (int w = 0; w < 3; ++w)
        for (int x = 0; x < 3; ++x)
            chk[w][x]->setChecked(digits[w] & (4 >> x));
    m_updating = false;
    m_value = mode;
}

std::optional<int> frmRemoteChangeMode::ask(int mode)
{
    chmodResult = 0;
    if (!setNumericValue(mode))
        setNumericValue(0);
    exec();
    if (chmodResult != 1)
        return std::nullopt;
    return m_value;
}

void frmRemoteChangeMode::closeEvent(QCloseEvent *event)
{
    chmodResult = 0;
    if (m_reg && !isMinimized()) {
        const QRect g = geometry();
        const auto save = [this](const char *key, int value) {
            m_reg->REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, QString::fromLatin1(key),
                                  QString::number(value));
        };
        save("REMOTE CHANGE MODE TOP", g.top());
        save("REMOTE CHANGE MODE LEFT", g.left());
        save("REMOTE CHANGE MODE HEIGHT", g.height());
        save("REMOTE CHANGE MODE WIDTH", g.width());
    }
    QDialog::closeEvent(event);
}
