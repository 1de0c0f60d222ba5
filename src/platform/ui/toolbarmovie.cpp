#include "platform/ui/toolbarmovie.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QIconEngine>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

// The resources of a static library are registered by hand, once.
static void initToolbarResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(toolbar);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

constexpr int RowIconSize = 24;

// The look of the buttons: flat until hovered, and a clear ring in the
// accent colour on the button that has the keyboard focus (the platform
// styles draw none on flat tool buttons). Colours come from the palette, so
// light and dark palettes both work.
const char ButtonStyle[] = R"(
QToolButton {
    border: 1px solid transparent;
    border-radius: 6px;
    padding: 3px 4px;
    background: transparent;
}
QToolButton:hover { background: palette(midlight); border-color: palette(mid); }
QToolButton:pressed, QToolButton:open { background: palette(mid); }
QToolButton:focus { border: 2px solid palette(highlight); padding: 2px 3px; }
QToolButton:disabled { color: palette(placeholder-text); }
QToolButton[toolbarFramed="true"] { border-color: palette(mid); background: palette(button); padding: 4px 12px; }
QToolButton[toolbarFramed="true"]:hover { border-color: palette(highlight); }
QToolButton[toolbarFramed="true"]:focus { border: 2px solid palette(highlight); padding: 3px 11px; }
QToolButton[popupMode="2"] { padding-right: 12px; }
QToolButton[popupMode="2"]:focus { padding-right: 11px; }
QToolButton#qt_toolbar_ext_button { padding: 0px; border-width: 1px; }
QToolButton::menu-indicator { subcontrol-origin: padding; subcontrol-position: bottom right; right: 2px; bottom: 4px; }
)";

const char GenericDescription[] = R"({
  "format": "tessel-toolbar", "version": 1, "dragCommand": "IDC_FS_drag",
  "pages": [ { "name": "main", "items": [
    { "type": "stretch" },
    { "type": "button", "icon": "minimize", "text": "Minimize", "tooltip": "Minimize the window",
      "command": "IDC_FS_minimize", "showText": false },
    { "type": "button", "icon": "close", "text": "Close", "tooltip": "Close the program",
      "command": "IDC_FS_close", "showText": false }
  ] } ]
})";

bool isBuiltInIconName(const QString &source)
{
    return !source.contains(QLatin1Char('/')) && !source.contains(QLatin1Char('.'));
}

QString resolveIconSource(const QString &source, const QString &baseDir)
{
    if (source.isEmpty() || isBuiltInIconName(source))
        return source;
    if (QDir::isAbsolutePath(source) || baseDir.isEmpty())
        return source;
    return QDir(baseDir).filePath(source);
}

QByteArray readIconData(const QString &source)
{
    const QString path = isBuiltInIconName(source)
                             ? QStringLiteral(":/toolbar/icons/%1.svg").arg(source)
                             : source;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool isSvg(const QString &source)
{
    return isBuiltInIconName(source) || source.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive);
}

// Draws an SVG at any size on demand, in one colour per mode, so icons stay
// sharp at every scale and follow the palette they were made for.
class TintedSvgEngine final : public QIconEngine {
public:
    TintedSvgEngine(QByteArray svg, QColor normal, QColor disabled)
        : m_svg(std::move(svg)), m_normal(normal), m_disabled(disabled)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = render(rect.size() * ratio, mode);
        pm.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, pm);
        Q_UNUSED(state);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override
    {
        return render(size, mode);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QPixmap pm = render(size * scale, mode);
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    QIconEngine *clone() const override { return new TintedSvgEngine(m_svg, m_normal, m_disabled); }
    QString key() const override { return QStringLiteral("TintedSvgEngine"); }
    bool isNull() override { return m_svg.isEmpty(); }

private:
    QPixmap render(const QSize &size, QIcon::Mode mode) const
    {
        if (size.isEmpty())
            return {};
        const QColor colour = mode == QIcon::Disabled ? m_disabled : m_normal;
        QByteArray data = m_svg;
        data.replace("currentColor", colour.name(QColor::HexRgb).toLatin1());
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "svg");
        reader.setScaledSize(size);
        QImage image = reader.read();
        if (image.isNull())
            return {};
        if (colour.alpha() < 255) { // hex colours drop alpha; apply it here
            QImage faded(image.size(), QImage::Format_ARGB32_Premultiplied);
            faded.fill(Qt::transparent);
            QPainter p(&faded);
            p.setOpacity(colour.alphaF());
            p.drawImage(0, 0, image);
            p.end();
            image = faded;
        }
        return QPixmap::fromImage(image);
    }

    QByteArray m_svg;
    QColor m_normal;
    QColor m_disabled;
};

QString jsonType(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("a Boolean");
    case QJsonValue::Double: return QStringLiteral("a number");
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("an array");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: break;
    }
    return QStringLiteral("missing");
}

} // namespace

QIcon tintedToolbarIcon(const QString &source, int size, const QColor &normal, const QColor &disabled)
{
    if (source.isEmpty())
        return {};
    const QByteArray data = readIconData(source);
    if (data.isEmpty())
        return {};
    if (!isSvg(source)) {
        QPixmap picture;
        if (!picture.loadFromData(data))
            return {};
        return QIcon(picture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    QIcon icon(new TintedSvgEngine(data, normal, disabled));
    if (icon.pixmap(QSize(size, size)).isNull()) // not an SVG after all
        return {};
    return icon;
}

// Everything one description builds, held apart until it has been read
// without error, so a bad file never leaves a half-built toolbar.
struct ToolbarMovie::Built {
    ToolbarMovie *owner = nullptr;
    QString baseDir;
    QString error;
    QStackedWidget *stack = nullptr;
    QStringList pageNames;
    QList<bool> pageIsColumn;
    QString dragCommand;
    QStringList commands;
    QHash<QString, QList<Slot>> slotsByName;
    QList<IconUse> icons;
    QHash<QString, QAction *> actions;
    QHash<QString, QToolButton *> buttons;
    QList<QToolBar *> toolBars;
    QList<std::pair<QString, QString>> pageTargets; // page name, where it is asked for
    QHash<QToolBar *, QList<QToolButton *>> labelledButtons;

    ~Built() { delete stack; }

    bool fail(const QString &where, const QString &what)
    {
        error = where.isEmpty() ? what : where + QStringLiteral(": ") + what;
        return false;
    }

    static bool optionalString(const QJsonObject &o, const char *key, QString *out, QString *why)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return true;
        if (!v.isString()) {
            *why = QStringLiteral("\"%1\" must be a string, not %2").arg(QLatin1String(key), jsonType(v));
            return false;
        }
        *out = v.toString();
        return true;
    }

    void noteCommand(const QString &command)
    {
        if (!command.isEmpty() && !commands.contains(command))
            commands << command;
    }

    QAction *makeAction(const QJsonObject &o, QWidget *page, const QString &where)
    {
        QString icon, text, tooltip, command, argument, shortcut, target, why;
        for (auto [key, out] : {std::pair{"icon", &icon}, {"text", &text}, {"tooltip", &tooltip},
                                {"command", &command}, {"argument", &argument},
                                {"shortcut", &shortcut}, {"page", &target}}) {
            if (!optionalString(o, key, out, &why)) {
                fail(where, why);
                return nullptr;
            }
        }
        if (command.isEmpty() && target.isEmpty()) {
            fail(where, QStringLiteral("a button needs a \"command\" or a \"page\""));
            return nullptr;
        }
        if (text.isEmpty() && icon.isEmpty()) {
            fail(where, QStringLiteral("a button needs a \"text\" or an \"icon\""));
            return nullptr;
        }
        auto *action = new QAction(text.isEmpty() ? command : text, page);
        if (!shortcut.isEmpty()) {
            const QKeySequence keys(shortcut, QKeySequence::PortableText);
            bool known = !keys.isEmpty();
            for (int i = 0; i < keys.count(); ++i)
                known = known && keys[i].key() != Qt::Key_unknown;
            if (!known) {
                fail(where, QStringLiteral("\"%1\" is not a key sequence").arg(shortcut));
                return nullptr;
            }
            action->setShortcut(keys);
            action->setShortcutContext(Qt::WindowShortcut);
            // The page holds the action too, so the shortcut works exactly
            // while the page is shown, also for entries of a closed menu.
            page->addAction(action);
        }
        QString tip = tooltip.isEmpty() ? action->text() : tooltip;
        if (!action->shortcut().isEmpty())
            tip += QStringLiteral(" (%1)").arg(action->shortcut().toString(QKeySequence::NativeText));
        action->setToolTip(tip);
        action->setStatusTip(tooltip);
        if (!icon.isEmpty())
            icons.append({resolveIconSource(icon, baseDir), RowIconSize, action, nullptr});
        if (!target.isEmpty())
            pageTargets.append({target, where});
        noteCommand(command);
        if (!command.isEmpty() && !actions.contains(command))
            actions.insert(command, action);
        ToolbarMovie *movie = owner;
        QObject::connect(action, &QAction::triggered, movie, [movie, command, argument, target] {
            if (!target.isEmpty())
                movie->showPage(target);
            if (!command.isEmpty())
                Q_EMIT movie->commandTriggered(command, argument);
        });
        return action;
    }

    QMenu *makeMenu(const QJsonObject &o, QWidget *page, const QString &where)
    {
        const QJsonValue entries = o.value(QLatin1String("items"));
        if (!entries.isArray()) {
            fail(where, QStringLiteral("a menu needs an \"items\" array"));
            return nullptr;
        }
        auto *menu = new QMenu(page);
        int index = 0;
        for (const QJsonValue &e : entries.toArray()) {
            const QString at = QStringLiteral("%1, entry %2").arg(where).arg(++index);
            if (!e.isObject()) {
                fail(at, QStringLiteral("an entry must be an object"));
                return nullptr;
            }
            const QJsonObject entry = e.toObject();
            const QString type = entry.value(QLatin1String("type")).toString(QStringLiteral("button"));
            if (type == QLatin1String("separator")) {
                menu->addSeparator();
            } else if (type == QLatin1String("button")) {
                QAction *a = makeAction(entry, page, at);
                if (!a)
                    return nullptr;
                menu->addAction(a);
            } else {
                fail(at, QStringLiteral("a menu entry is a \"button\" or a \"separator\", not \"%1\"").arg(type));
                return nullptr;
            }
        }
        return menu;
    }

    QLabel *makeText(const QJsonObject &o, const QString &where)
    {
        QString text, variable, style, why;
        if (!optionalString(o, "text", &text, &why) || !optionalString(o, "variable", &variable, &why)
            || !optionalString(o, "style", &style, &why)) {
            fail(where, why);
            return nullptr;
        }
        auto *label = new QLabel(text);
        label->setTextFormat(Qt::PlainText);
        if (style == QLatin1String("title")) {
            QFont f = label->font();
            f.setPointSizeF(f.pointSizeF() * 1.6);
            f.setBold(true);
            label->setFont(f);
        } else if (style == QLatin1String("caption")) {
            QFont f = label->font();
            f.setPointSizeF(f.pointSizeF() * 0.9);
            label->setFont(f);
            label->setForegroundRole(QPalette::PlaceholderText);
        } else if (!style.isEmpty() && style != QLatin1String("body")) {
            delete label;
            fail(where, QStringLiteral("unknown text style \"%1\"").arg(style));
            return nullptr;
        }
        if (const int width = o.value(QLatin1String("width")).toInt(0); width > 0)
            label->setMinimumWidth(width);
        if (!variable.isEmpty()) {
            Slot slot;
            slot.kind = Slot::Text;
            slot.label = label;
            const QJsonObject values = o.value(QLatin1String("values")).toObject();
            for (auto it = values.begin(); it != values.end(); ++it)
                slot.values.insert(it.key(), it.value().toString());
            slotsByName[variable].append(slot);
        }
        return label;
    }

    QProgressBar *makeProgress(const QJsonObject &o, const QString &where)
    {
        QString variable, why;
        if (!optionalString(o, "variable", &variable, &why)) {
            fail(where, why);
            return nullptr;
        }
        const int minimum = o.value(QLatin1String("minimum")).toInt(0);
        const int maximum = o.value(QLatin1String("maximum")).toInt(100);
        if (maximum <= minimum) {
            fail(where, QStringLiteral("\"maximum\" must be above \"minimum\""));
            return nullptr;
        }
        auto *bar = new QProgressBar;
        bar->setRange(minimum, maximum);
        bar->setValue(minimum);
        bar->setTextVisible(true);
        bar->setMaximumHeight(18);
        bar->setFixedWidth(qMax(40, o.value(QLatin1String("width")).toInt(120)));
        if (!variable.isEmpty()) {
            Slot slot;
            slot.kind = Slot::Progress;
            slot.bar = bar;
            slotsByName[variable].append(slot);
        }
        return bar;
    }

    QLabel *makeImage(const QJsonObject &o, const QString &where)
    {
        QString icon, why;
        if (!optionalString(o, "icon", &icon, &why) || icon.isEmpty()) {
            fail(where, why.isEmpty() ? QStringLiteral("an image needs an \"icon\"") : why);
            return nullptr;
        }
        const int size = qBound(8, o.value(QLatin1String("size")).toInt(48), 512);
        auto *label = new QLabel;
        label->setFixedSize(size, size);
        icons.append({resolveIconSource(icon, baseDir), size, nullptr, label});
        return label;
    }

    QToolBar *newBar(QWidget *page)
    {
        auto *bar = new QToolBar(page);
        bar->setMovable(false);
        bar->setFloatable(false);
        bar->setIconSize(QSize(RowIconSize, RowIconSize));
        bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        bar->installEventFilter(owner);
        toolBars << bar;
        return bar;
    }

    // Tool bars give their buttons no focus; these take it with Tab.
    QToolButton *prepareButton(QToolBar *bar, QAction *action, const QJsonObject &o)
    {
        auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(action));
        if (!button)
            return nullptr;
        button->setFocusPolicy(Qt::TabFocus);
        if (o.value(QLatin1String("showText")).toBool(true))
            labelledButtons[bar].append(button);
        else
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        return button;
    }

    void noteButton(QAction *action, QToolButton *button)
    {
        const QString command = actions.key(action);
        if (button && !command.isEmpty() && !buttons.contains(command))
            buttons.insert(command, button);
    }

    bool buildRowPage(QWidget *page, const QJsonArray &items, const QString &where)
    {
        auto *layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        QToolBar *bar = newBar(page);
        layout->addWidget(bar);
        int index = 0;
        for (const QJsonValue &v : items) {
            const QString at = QStringLiteral("%1, item %2").arg(where).arg(++index);
            if (!v.isObject())
                return fail(at, QStringLiteral("an item must be an object"));
            const QJsonObject o = v.toObject();
            const QString type = o.value(QLatin1String("type")).toString();
            if (type == QLatin1String("button")) {
                QAction *a = makeAction(o, page, at);
                if (!a)
                    return false;
                bar->addAction(a);
                noteButton(a, prepareButton(bar, a, o));
            } else if (type == QLatin1String("menu")) {
                QString text, icon, tooltip, why;
                if (!optionalString(o, "text", &text, &why) || !optionalString(o, "icon", &icon, &why)
                    || !optionalString(o, "tooltip", &tooltip, &why))
                    return fail(at, why);
                QMenu *menu = makeMenu(o, page, at);
                if (!menu)
                    return false;
                auto *a = new QAction(text, page);
                a->setMenu(menu);
                a->setToolTip(tooltip.isEmpty() ? text : tooltip);
                if (!icon.isEmpty())
                    icons.append({resolveIconSource(icon, baseDir), RowIconSize, a, nullptr});
                bar->addAction(a);
                if (QToolButton *button = prepareButton(bar, a, o))
                    button->setPopupMode(QToolButton::InstantPopup);
            } else if (type == QLatin1String("separator")) {
                bar->addSeparator();
            } else if (type == QLatin1String("stretch")) {
                auto *gap = new QWidget;
                gap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
                gap->setAttribute(Qt::WA_TransparentForMouseEvents); // presses reach the bar
                bar->addWidget(gap);
            } else if (type == QLatin1String("text")) {
                QLabel *label = makeText(o, at);
                if (!label)
                    return false;
                label->setContentsMargins(6, 0, 6, 0);
                bar->addWidget(label);
            } else if (type == QLatin1String("progress")) {
                QProgressBar *progress = makeProgress(o, at);
                if (!progress)
                    return false;
                bar->addWidget(progress);
            } else if (type == QLatin1String("image")) {
                QLabel *image = makeImage(o, at);
                if (!image)
                    return false;
                bar->addWidget(image);
            } else if (type == QLatin1String("break")) {
                bar = newBar(page);
                layout->addWidget(bar);
            } else {
                return fail(at, QStringLiteral("unknown item type \"%1\"").arg(type));
            }
        }
        return true;
    }

    bool buildColumnPage(QWidget *page, const QJsonArray &items, const QString &where)
    {
        page->installEventFilter(owner);
        auto *layout = new QVBoxLayout(page);
        layout->setContentsMargins(24, 16, 24, 16);
        layout->setSpacing(8);
        layout->addStretch(1);
        int index = 0;
        for (const QJsonValue &v : items) {
            const QString at = QStringLiteral("%1, item %2").arg(where).arg(++index);
            if (!v.isObject())
                return fail(at, QStringLiteral("an item must be an object"));
            const QJsonObject o = v.toObject();
            const QString type = o.value(QLatin1String("type")).toString();
            if (type == QLatin1String("button") || type == QLatin1String("menu")) {
                auto *button = new QToolButton(page);
                button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
                button->setIconSize(QSize(RowIconSize - 4, RowIconSize - 4));
                button->setFocusPolicy(Qt::StrongFocus);
                button->setProperty("toolbarFramed", true);
                if (type == QLatin1String("button")) {
                    QAction *a = makeAction(o, page, at);
                    if (!a)
                        return false;
                    button->setDefaultAction(a);
                    noteButton(a, button);
                } else {
                    QString text, why;
                    if (!optionalString(o, "text", &text, &why))
                        return fail(at, why);
                    QMenu *menu = makeMenu(o, page, at);
                    if (!menu)
                        return false;
                    button->setText(text);
                    button->setMenu(menu);
                    button->setPopupMode(QToolButton::InstantPopup);
                }
                layout->addWidget(button, 0, Qt::AlignHCenter);
            } else if (type == QLatin1String("text")) {
                QLabel *label = makeText(o, at);
                if (!label)
                    return false;
                label->setAlignment(Qt::AlignHCenter);
                label->setWordWrap(true);
                layout->addWidget(label);
            } else if (type == QLatin1String("progress")) {
                QProgressBar *progress = makeProgress(o, at);
                if (!progress)
                    return false;
                layout->addWidget(progress, 0, Qt::AlignHCenter);
            } else if (type == QLatin1String("image")) {
                QLabel *image = makeImage(o, at);
                if (!image)
                    return false;
                layout->addWidget(image, 0, Qt::AlignHCenter);
            } else if (type == QLatin1String("separator")) {
                auto *line = new QFrame(page);
                line->setFrameShape(QFrame::HLine);
                line->setFrameShadow(QFrame::Sunken);
                layout->addWidget(line);
            } else if (type == QLatin1String("stretch")) {
                layout->addStretch(1);
            } else if (type == QLatin1String("break")) {
                // rows only; a column goes on below anyway
            } else {
                return fail(at, QStringLiteral("unknown item type \"%1\"").arg(type));
            }
        }
        layout->addStretch(1);
        return true;
    }

    bool build(const QByteArray &json)
    {
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
        if (parseError.error != QJsonParseError::NoError)
            return fail({}, QStringLiteral("not JSON (%1 at offset %2)")
                                .arg(parseError.errorString())
                                .arg(parseError.offset));
        if (!doc.isObject())
            return fail({}, QStringLiteral("the document must be an object"));
        const QJsonObject root = doc.object();
        if (root.value(QLatin1String("format")).toString() != QLatin1String(FormatName))
            return fail({}, QStringLiteral("\"format\" must be \"%1\"").arg(QLatin1String(FormatName)));
        if (root.value(QLatin1String("version")).toInt(-1) != FormatVersion)
            return fail({}, QStringLiteral("unsupported \"version\" (this program reads %1)").arg(FormatVersion));
        QString why;
        if (!optionalString(root, "dragCommand", &dragCommand, &why))
            return fail({}, why);
        const QJsonArray pages = root.value(QLatin1String("pages")).toArray();
        if (pages.isEmpty())
            return fail({}, QStringLiteral("\"pages\" must be a non-empty array"));

        stack = new QStackedWidget;
        int index = 0;
        for (const QJsonValue &v : pages) {
            const QString where = QStringLiteral("page %1").arg(++index);
            const QJsonObject page = v.toObject();
            const QString name = page.value(QLatin1String("name")).toString();
            if (name.isEmpty())
                return fail(where, QStringLiteral("a page needs a \"name\""));
            if (pageNames.contains(name))
                return fail(where, QStringLiteral("the page name \"%1\" is used twice").arg(name));
            const QString layout = page.value(QLatin1String("layout")).toString(QStringLiteral("row"));
            if (layout != QLatin1String("row") && layout != QLatin1String("column"))
                return fail(where, QStringLiteral("\"layout\" is \"row\" or \"column\", not \"%1\"").arg(layout));
            if (!page.value(QLatin1String("items")).isArray())
                return fail(where, QStringLiteral("a page needs an \"items\" array"));
            auto *widget = new QWidget;
            widget->setObjectName(name);
            stack->addWidget(widget);
            pageNames << name;
            const bool column = layout == QLatin1String("column");
            pageIsColumn << column;
            const QJsonArray items = page.value(QLatin1String("items")).toArray();
            const QString at = QStringLiteral("page \"%1\"").arg(name);
            if (!(column ? buildColumnPage(widget, items, at) : buildRowPage(widget, items, at)))
                return false;
        }
        // A button may only switch to a page that exists.
        for (const auto &[target, where] : std::as_const(pageTargets)) {
            if (!pageNames.contains(target))
                return fail(where, QStringLiteral("there is no page \"%1\"").arg(target));
        }
        noteCommand(dragCommand);
        return true;
    }
};

ToolbarMovie::ToolbarMovie(QWidget *parent) : QWidget(parent)
{
    initToolbarResources();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setStyleSheet(QString::fromLatin1(ButtonStyle));
    QString error;
    loadDescription(QByteArray(GenericDescription), {}, &error);
    Q_ASSERT(error.isEmpty());
    m_isDefault = true;
}

ToolbarMovie::~ToolbarMovie() = default;

bool ToolbarMovie::load(const QString &path)
{
    QFile file(path);
    QString error;
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(QDir::toNativeSeparators(path));
    } else if (loadDescription(file.readAll(), QFileInfo(path).absolutePath(), &error)) {
        m_isDefault = false;
        m_loadError.clear();
        return true;
    }
    // A copy of each shipped description is built in; anything else gets
    // the generic toolbar.
    const QString builtIn = QStringLiteral(":/toolbar/defaults/") + QFileInfo(path).fileName();
    QFile fallback(builtIn);
    QString ignored;
    if (!fallback.open(QIODevice::ReadOnly) || !loadDescription(fallback.readAll(), {}, &ignored))
        loadDescription(QByteArray(GenericDescription), {}, &ignored);
    m_isDefault = true;
    m_loadError = error;
    return false;
}

bool ToolbarMovie::loadDescription(const QByteArray &json, const QString &baseDir, QString *error)
{
    Built built;
    built.owner = this;
    built.baseDir = baseDir;
    if (!built.build(json)) {
        if (error)
            *error = built.error;
        return false;
    }
    applyBuilt(built);
    if (error)
        error->clear();
    return true;
}

void ToolbarMovie::applyBuilt(Built &built)
{
    if (m_stack) {
        layout()->removeWidget(m_stack);
        delete m_stack;
    }
    m_stack = built.stack;
    built.stack = nullptr;
    layout()->addWidget(m_stack);
    m_pageNames = built.pageNames;
    m_pageIsColumn = built.pageIsColumn;
    m_dragCommand = built.dragCommand;
    m_commands = built.commands;
    m_slots = built.slotsByName;
    m_values.clear();
    m_icons = built.icons;
    m_actions = built.actions;
    m_buttons = built.buttons;
    m_toolBars = built.toolBars;
    m_labelledButtons = built.labelledButtons;
    connect(m_stack, &QStackedWidget::currentChanged, this, [this](int index) {
        updatePageSizing();
        Q_EMIT pageChanged(m_pageNames.value(index));
    });
    retint();
    updatePageSizing();
    fitCaptions();
}

void ToolbarMovie::retint()
{
    const QPalette pal = palette();
    const QColor normal = pal.color(QPalette::Active, QPalette::ButtonText);
    const QColor disabled = pal.color(QPalette::Disabled, QPalette::ButtonText);
    // The button that opens the items a narrow bar cannot show.
    const QIcon more = tintedToolbarIcon(QStringLiteral("more"), 12, normal, disabled);
    for (QToolBar *bar : std::as_const(m_toolBars))
        for (QToolButton *extension : bar->findChildren<QToolButton *>(QStringLiteral("qt_toolbar_ext_button")))
            extension->setIcon(more);
    for (const IconUse &use : std::as_const(m_icons)) {
        const QIcon icon = tintedToolbarIcon(use.source, use.size, normal, disabled);
        if (use.action)
            use.action->setIcon(icon);
        if (use.label) {
            const QColor accent = pal.color(QPalette::Active, QPalette::Highlight);
            const QIcon mark = tintedToolbarIcon(use.source, use.size, accent, disabled);
            use.label->setPixmap(mark.pixmap(QSize(use.size, use.size), devicePixelRatioF()));
        }
    }
}

void ToolbarMovie::fitCaptions()
{
    if (m_fitting)
        return;
    m_fitting = true;
    // Captions under the icons while they fit; icons only (the tooltips
    // still name them) when the window is too narrow.
    for (auto it = m_labelledButtons.cbegin(); it != m_labelledButtons.cend(); ++it) {
        QToolBar *bar = it.key();
        for (QToolButton *button : it.value())
            button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        bar->layout()->invalidate();
        const bool fits = bar->sizeHint().width() <= width();
        if (!fits) {
            for (QToolButton *button : it.value())
                button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        }
        bar->layout()->invalidate();
        bar->updateGeometry();
        if (QLayout *pageLayout = bar->parentWidget()->layout())
            pageLayout->invalidate();
    }
    if (m_stack) {
        m_stack->layout()->invalidate();
        m_stack->updateGeometry();
    }
    updateGeometry();
    m_captionsShown = true;
    for (auto it = m_labelledButtons.cbegin(); it != m_labelledButtons.cend(); ++it)
        for (QToolButton *button : it.value())
            m_captionsShown = m_captionsShown && button->toolButtonStyle() != Qt::ToolButtonIconOnly;
    m_fitting = false;
}

void ToolbarMovie::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitCaptions();
}

void ToolbarMovie::updatePageSizing()
{
    if (!m_stack)
        return;
    const int current = m_stack->currentIndex();
    // Hidden pages must not make the stack as tall as the tallest page.
    for (int i = 0; i < m_stack->count(); ++i) {
        QWidget *page = m_stack->widget(i);
        if (i == current)
            page->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        else
            page->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    }
    const bool column = m_pageIsColumn.value(current);
    setSizePolicy(QSizePolicy::Preferred, column ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    // Re-apply the constraints now, so a window of its own shrinks back too.
    m_stack->layout()->invalidate();
    m_stack->updateGeometry();
    layout()->invalidate();
    layout()->activate();
    updateGeometry();
}

QStringList ToolbarMovie::commands() const
{
    return m_commands;
}

QStringList ToolbarMovie::variables() const
{
    QStringList names = m_slots.keys();
    names.sort();
    return names;
}

QStringList ToolbarMovie::pages() const
{
    return m_pageNames;
}

QString ToolbarMovie::currentPage() const
{
    return m_stack ? m_pageNames.value(m_stack->currentIndex()) : QString();
}

bool ToolbarMovie::showPage(const QString &name)
{
    const int index = m_pageNames.indexOf(name);
    if (index < 0 || !m_stack)
        return false;
    m_stack->setCurrentIndex(index);
    return true;
}

bool ToolbarMovie::setVariable(const QString &name, const QString &value)
{
    const auto it = m_slots.constFind(name);
    if (it == m_slots.constEnd())
        return false;
    m_values.insert(name, value);
    for (const Slot &slot : *it) {
        if (slot.kind == Slot::Text) {
            slot.label->setText(slot.values.value(value, value));
        } else {
            bool ok = false;
            const double number = value.trimmed().toDouble(&ok);
            if (ok && std::isfinite(number)) {
                const double clamped = qBound<double>(slot.bar->minimum(), std::round(number),
                                                      slot.bar->maximum());
                slot.bar->setValue(static_cast<int>(clamped));
            }
        }
    }
    return true;
}

QString ToolbarMovie::variable(const QString &name) const
{
    return m_values.value(name);
}

QAction *ToolbarMovie::actionFor(const QString &command) const
{
    return m_actions.value(command);
}

QToolButton *ToolbarMovie::buttonFor(const QString &command) const
{
    return m_buttons.value(command);
}

QSize ToolbarMovie::sizeHint() const
{
    if (m_stack && m_stack->currentWidget())
        return m_stack->currentWidget()->sizeHint();
    return QWidget::sizeHint();
}

void ToolbarMovie::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        retint();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitCaptions();
    QWidget::changeEvent(event);
}

bool ToolbarMovie::eventFilter(QObject *watched, QEvent *event)
{
    // A press on the bare background (not on a button) moves the window.
    if (event->type() == QEvent::MouseButtonPress && !m_dragCommand.isEmpty()) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && watched->isWidgetType()) {
            Q_EMIT commandTriggered(m_dragCommand, QString());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
