#include "app/ui/AboutDialog.h"

#include "platform/AppInfo.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {
constexpr int kIconSide = 48;
} // namespace

QString AboutVersionText(const QString& appVersionText)
{
    const QStringList parts = appVersionText.split(u'_');
    QString version = parts.value(0);
    if (parts.size() > 1)
        version += u'.' + parts.at(1);
    // One ideographic space between the name and the version.
    return u"Kemo\u3000Ver."_s + version;
}

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(u"AboutDialog"_s);
    setWindowTitle(AppTitle());
    if (parent)
        setWindowIcon(parent->windowIcon());

    auto* frame = new QFrame(this);
    frame->setObjectName(u"Frame1"_s);
    frame->setFrameShape(QFrame::Box);

    auto* iconImage = new QLabel(frame);
    iconImage->setObjectName(u"IconImage"_s);
    QIcon icon = windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    iconImage->setPixmap(icon.pixmap(kIconSide, kIconSide));

    auto* label1 = new QLabel(u"(別名：Halvex URL短縮変換)"_s, frame);
    label1->setObjectName(u"Label1"_s);
    m_lblVersion = new QLabel(AboutVersionText(AppVersionText()), frame);
    m_lblVersion->setObjectName(u"lblVersion"_s);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_lblVersion);
    texts->addWidget(label1);
    auto* frameLayout = new QHBoxLayout(frame);
    frameLayout->addWidget(iconImage, 0, Qt::AlignTop);
    frameLayout->addLayout(texts, 1);

    auto* copyright = new QLabel(u"Copyright (C) HALVEX. All rights reserved."_s, this);
    copyright->setObjectName(u"lblCopyright"_s);

    m_OKButton = new QPushButton(u"OK"_s, this);
    m_OKButton->setObjectName(u"OKButton"_s);
    m_OKButton->setDefault(true);
    connect(m_OKButton, &QPushButton::clicked, this, &QWidget::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(copyright);
    layout->addWidget(m_OKButton, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace linvera
