#include "platform/ui/skin.h"

#include <QApplication>
#include <QFile>
#include <QStyle>
#include <QVariant>
#include <QWidget>

Skin::Skin(QString skinFile) : m_file(std::move(skinFile)) {}

bool Skin::load()
{
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly)) {
        m_loaded = false;
        return false;
    }
    m_styleSheet = QString::fromUtf8(file.readAll());
    m_loaded = true;
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        app->setStyleSheet(m_styleSheet);
    return true;
}

void Skin::registerWindow(QWidget *window, const QString &name)
{
    if (window)
        window->setProperty(WindowProperty, name);
}

void Skin::registerControl(QWidget *control, const QString &element)
{
    if (control)
        control->setProperty(ElementProperty, element);
}

void Skin::repolish(QWidget *window)
{
    if (!window)
        return;
    const auto widgets = window->findChildren<QWidget *>();
    window->style()->unpolish(window);
    window->style()->polish(window);
    for (QWidget *w : widgets) {
        w->style()->unpolish(w);
        w->style()->polish(w);
    }
}
