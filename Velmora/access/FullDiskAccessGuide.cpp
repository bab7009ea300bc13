#include "access/FullDiskAccessGuide.h"

#include "access/AppBundleDragView.h"
#include "access/GuideButtonStyle.h"
#include "access/Texts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace velmora::access {

const QColor FullDiskAccessGuide::background = QColor::fromRgbF(0.97, 0.98, 0.96);

namespace {

const QColor secondaryText = QColor::fromRgbF(0, 0, 0, 0.5);
const QColor labelText = QColor::fromRgbF(0, 0, 0, 0.85);

QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QLabel *makeLabel(const QString &text, const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A one-line text with the line height of the desktop's Latin system font (1.2 em) rather
// than the 1.45 em line box of the Hangul fallback font, which would push the buttons out of
// the fixed-size panel. The glyphs themselves stay within the shorter box.
QLabel *makeLine(const QString &text, const QFont &font, const QColor &colour, QWidget *parent)
{
    QLabel *label = makeLabel(text, font, colour, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFixedHeight(int(std::ceil(font.pixelSize() * 1.2)));
    return label;
}

class StepBadge : public QWidget
{
public:
    StepBadge(const QString &number, const QColor &ink, QWidget *parent) : QWidget(parent), m_number(number), m_ink(ink)
    {
        setFixedSize(19, 19);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.05));
        painter.drawEllipse(QRectF(rect()));
        painter.setFont(systemFont(10, QFont::DemiBold));
        painter.setPen(m_ink);
        painter.drawText(QRectF(rect()), Qt::AlignCenter, m_number);
    }

private:
    QString m_number;
    QColor m_ink;
};

// Colours for every role, so that a dark desktop theme does not reach the guide.
QPalette lightPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, FullDiskAccessGuide::background);
    palette.setColor(QPalette::WindowText, labelText);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, FullDiskAccessGuide::background);
    palette.setColor(QPalette::Text, labelText);
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::ButtonText, labelText);
    palette.setColor(QPalette::ToolTipBase, Qt::white);
    palette.setColor(QPalette::ToolTipText, labelText);
    palette.setColor(QPalette::PlaceholderText, secondaryText);
    palette.setColor(QPalette::Highlight, QColor::fromRgbF(0.1, 0.5, 0.33));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

} // namespace

GuideStepRow::GuideStepRow(const QString &number, const QString &text, const QColor &ink, QWidget *parent) : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(9);
    m_badge = new StepBadge(number, ink, this);
    auto *label = makeLabel(text, systemFont(12), ink, this);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label = label;
    row->addWidget(m_badge, 0, Qt::AlignTop);
    row->addWidget(label, 1, Qt::AlignTop);
}

FullDiskAccessGuide::FullDiskAccessGuide(const QUrl &appURL, std::function<void()> openSettings, std::function<void()> done,
                                         const QColor &ink, QWidget *parent)
    : QWidget(parent)
{
    setPalette(lightPalette());
    setAutoFillBackground(true);

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(16);

    stack->addWidget(makeLine(guideTitle, systemFont(21, QFont::Bold), ink, this));
    stack->addWidget(makeLine(guideSubtitle, systemFont(12), secondaryText, this));

    m_tile = new AppBundleDragTile(appURL, this);
    m_tile->setFixedHeight(140);
    stack->addWidget(m_tile);

    auto *steps = new QVBoxLayout;
    steps->setSpacing(9);
    steps->addWidget(new GuideStepRow(QStringLiteral("1"), guideFirstStep, ink, this));
    steps->addWidget(new GuideStepRow(QStringLiteral("2"), guideSecondStep, ink, this));
    stack->addLayout(steps);

    stack->addWidget(makeLine(guideFootnote, systemFont(11), secondaryText, this));

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    m_reopen = new GuideButton(reopenSettingsTitle, false, this);
    m_reopen->setObjectName(QStringLiteral("reopenSettingsButton"));
    m_done = new GuideButton(doneTitle, true, this);
    m_done->setObjectName(QStringLiteral("doneButton"));
    buttons->addWidget(m_reopen);
    buttons->addStretch(1);
    buttons->addWidget(m_done);
    stack->addLayout(buttons);

    // The content sits at the top; spare height collects below it.
    stack->addStretch(1);

    connect(m_reopen, &QPushButton::clicked, this, [openSettings = std::move(openSettings)] {
        if (openSettings)
            openSettings();
    });
    connect(m_done, &QPushButton::clicked, this, [done = std::move(done)] {
        if (done)
            done();
    });
}

} // namespace velmora::access
