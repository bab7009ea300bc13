#include "updates/UpdateCheckView.h"

#include "platform/BuildInfo.h"
#include "platform/Bundle.h"
#include "platform/UrlOpener.h"
#include "updates/Texts.h"
#include "updates/UpdateAppearance.h"
#include "updates/UpdateController.h"
#include "updates/UpdateNotesView.h"
#include "widgets/BusySpinner.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include <cmath>

namespace velmora::updates {
namespace {

QPalette textPalette(const QColor &colour)
{
    QPalette palette;
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    return palette;
}

QLabel *makeLabel(const QString &text, const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    // Versions and titles come from the feed: never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setPalette(textPalette(colour));
    return label;
}

// Two arrows chasing each other around a circle, in a tinted rounded square.
class RefreshBadge : public QWidget
{
public:
    RefreshBadge(QColor accent, QWidget *parent) : QWidget(parent), m_accent(accent) { setFixedSize(48, 48); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor tint = m_accent;
        tint.setAlphaF(0.08f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tint);
        painter.drawRoundedRect(QRectF(rect()), 13, 13);

        const QPointF centre(24, 24);
        const qreal radius = 9.5;
        QPen pen(m_accent, 2.4, Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        // Each arrow runs clockwise over half the circle and ends in its head.
        for (const qreal start : {165.0, 345.0}) {
            const qreal sweep = -128.0;
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawArc(circle, int(start * 16), int(sweep * 16));
            const qreal end = (start + sweep - 7.0) * M_PI / 180.0;
            const QPointF tip = centre + QPointF(radius * std::cos(end), -radius * std::sin(end));
            const QPointF along(std::sin(end), std::cos(end));
            const QPointF across(-along.y(), along.x());
            QPainterPath head;
            head.moveTo(tip + along * 3.2);
            head.lineTo(tip - along * 2.2 + across * 3.6);
            head.lineTo(tip - along * 2.2 - across * 3.6);
            head.closeSubpath();
            painter.setPen(Qt::NoPen);
            painter.setBrush(m_accent);
            painter.drawPath(head);
        }
    }

private:
    QColor m_accent;
};

// A checkbox whose box is tinted with the accent colour when checked.
class AccentCheckBox : public QCheckBox
{
public:
    AccentCheckBox(const QString &text, QColor accent, QWidget *parent) : QCheckBox(text, parent), m_accent(accent) {}

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {boxSize + gap + metrics.horizontalAdvance(text()) + 2, std::max(boxSize, metrics.height()) + 2};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(0.5, (height() - boxSize) / 2.0 + 0.5, boxSize - 1, boxSize - 1);
        const qreal opacity = isEnabled() ? 1.0 : 0.45;
        painter.setOpacity(opacity);
        if (isChecked()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(m_accent);
            painter.drawRoundedRect(box, 3.5, 3.5);
            QPen tick(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            painter.setPen(tick);
            painter.setBrush(Qt::NoBrush);
            QPainterPath mark;
            mark.moveTo(box.left() + 3.5, box.center().y() + 0.2);
            mark.lineTo(box.left() + 6.2, box.bottom() - 3.7);
            mark.lineTo(box.right() - 3.3, box.top() + 3.8);
            painter.drawPath(mark);
        } else {
            painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.3f), 1));
            painter.setBrush(Qt::white);
            painter.drawRoundedRect(box, 3.5, 3.5);
        }
        painter.setPen(appearance::label());
        // The keyboard's focus shows as the text underlined in the accent colour.
        QFont textFont = font();
        if (hasFocus()) {
            const QFontMetrics metrics(textFont);
            const int baseline = (height() + metrics.ascent() - metrics.descent()) / 2 + 2;
            painter.setPen(QPen(m_accent, 1.5));
            painter.drawLine(boxSize + gap, baseline, boxSize + gap + metrics.horizontalAdvance(text()), baseline);
            painter.setPen(appearance::label());
        }
        painter.setFont(textFont);
        painter.drawText(QRect(boxSize + gap, 0, width() - boxSize - gap, height()), Qt::AlignVCenter | Qt::AlignLeft,
                         text());
    }
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }

private:
    static constexpr int boxSize = 14;
    static constexpr int gap = 6;
    QColor m_accent;
};

QString colourName(QColor colour, qreal alpha = 1.0)
{
    colour.setAlphaF(float(alpha));
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alphaF());
}

} // namespace

UpdateCheckView::UpdateCheckView(UpdateController &updates, QColor accent, QWidget *parent)
    : QWidget(parent)
    , m_updates(updates)
    , m_accent(accent)
{
    setFixedWidth(500);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Maximum);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(22);

    // Header: the badge beside the title and the current version.
    auto *header = new QHBoxLayout;
    header->setSpacing(14);
    header->addWidget(new RefreshBadge(accent, this), 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(6);
    titles->addWidget(makeLabel(updateTitle, appearance::systemFont(20, QFont::DemiBold), appearance::label(), this));
    m_version = makeLabel(QString(), appearance::systemFont(12), appearance::secondaryLabel(), this);
    titles->addWidget(m_version);
    titles->addStretch(1);
    header->addLayout(titles, 1);
    column->addLayout(header);

    // Status row: the indicator while a check runs, then the status line, never cut short.
    auto *statusRow = new QWidget(this);
    statusRow->setMinimumHeight(20);
    auto *statusLayout = new QHBoxLayout(statusRow);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(9);
    m_checkingIndicator = new widgets::BusySpinner(appearance::activityIndicator(), statusRow);
    statusLayout->addWidget(m_checkingIndicator, 0, Qt::AlignVCenter);
    m_status = makeLabel(QString(), appearance::systemFont(13), appearance::label(), statusRow);
    m_status->setObjectName(QStringLiteral("update-status"));
    m_status->setWordWrap(true);
    m_status->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    statusLayout->addWidget(m_status, 1, Qt::AlignVCenter);
    column->addWidget(statusRow);

    m_notes = new UpdateNotesView(updates.urlOpener(), this);
    column->addWidget(m_notes);

    auto *divider = new QFrame(this);
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    QPalette dividerPalette;
    dividerPalette.setColor(QPalette::Window, appearance::separator());
    divider->setPalette(dividerPalette);
    column->addWidget(divider);

    auto *settings = new QVBoxLayout;
    settings->setSpacing(7);
    m_automaticChecks = new AccentCheckBox(automaticChecksTitle, accent, this);
    m_automaticChecks->setObjectName(QStringLiteral("automatic-updates"));
    m_automaticChecks->setFont(appearance::systemFont(13));
    connect(m_automaticChecks, &QCheckBox::clicked, this, &UpdateCheckView::automaticChecksClicked);
    settings->addWidget(m_automaticChecks, 0, Qt::AlignLeft);
    m_explanation = makeLabel(QString(), appearance::systemFont(11), appearance::secondaryLabel(), this);
    m_explanation->setWordWrap(true);
    settings->addWidget(m_explanation);
    column->addLayout(settings);

    auto *actions = new QHBoxLayout;
    m_releaseLink = new QPushButton(releaseLinkTitle, this);
    m_releaseLink->setObjectName(QStringLiteral("update-release-link"));
    m_releaseLink->setFont(appearance::systemFont(12));
    m_releaseLink->setCursor(Qt::PointingHandCursor);
    m_releaseLink->setFlat(true);
    m_releaseLink->setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 0; background: transparent; color: %1; }"
                       "QPushButton:hover, QPushButton:focus { text-decoration: underline; }")
            .arg(colourName(accent)));
    connect(m_releaseLink, &QPushButton::clicked, this,
            [this] { m_updates.urlOpener().openUrl(QUrl(platform::buildSettings().releasePageUrl)); });
    actions->addWidget(m_releaseLink, 0, Qt::AlignVCenter);
    actions->addStretch(1);
    m_primary = new QPushButton(this);
    m_primary->setObjectName(QStringLiteral("update-primary-button"));
    m_primary->setFont(appearance::systemFont(13, QFont::Medium));
    m_primary->setMinimumHeight(30);
    m_primary->setCursor(Qt::PointingHandCursor);
    m_primary->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: 2px solid transparent; border-radius: 7px;"
                       " padding: 0 14px; }"
                       "QPushButton:focus { border-color: rgba(0, 0, 0, 0.35); }"
                       "QPushButton:pressed { background: %2; }"
                       "QPushButton:disabled { background: %3; color: rgba(255, 255, 255, 0.85); }")
            .arg(colourName(accent), colourName(accent.darker(118)), colourName(accent, 0.4)));
    connect(m_primary, &QPushButton::clicked, this, &UpdateCheckView::primaryClicked);
    actions->addWidget(m_primary, 0, Qt::AlignVCenter);
    column->addLayout(actions);

    for (auto signal :
         {&UpdateController::canCheckForUpdatesChanged, &UpdateController::automaticallyChecksForUpdatesChanged,
          &UpdateController::isCheckingChanged, &UpdateController::updateAvailableChanged,
          &UpdateController::releaseNotesChanged, &UpdateController::isLoadingNotesChanged,
          &UpdateController::notesFailedChanged, &UpdateController::statusChanged})
        connect(&updates, signal, this, &UpdateCheckView::render);
    render();
}

void UpdateCheckView::render()
{
    const QVariant version = m_updates.bundle().infoValue(platform::bundleKey::shortVersion);
    m_version->setText(currentVersionPrefix + (version.typeId() == QMetaType::QString ? version.toString() : QString()));

    m_checkingIndicator->setVisible(m_updates.isChecking());
    m_status->setText(m_updates.status());

    m_notes->setVisible(m_updates.updateAvailable());
    m_notes->setNotes(m_updates.releaseNotes(), m_updates.isLoadingNotes(), m_updates.notesFailed());

    m_automaticChecks->setChecked(m_updates.automaticallyChecksForUpdates());

    const bool development = m_updates.isDevelopmentBuild();
    m_explanation->setText(development ? developmentExplanation : releaseExplanation);
    if (development) {
        m_primary->setText(showReleaseTitle);
        m_primary->setEnabled(true);
    } else {
        m_primary->setText(m_updates.updateAvailable() ? installTitle : checkAgainTitle);
        m_primary->setEnabled(m_updates.canCheckForUpdates() && !m_updates.isChecking());
    }
}

void UpdateCheckView::primaryClicked()
{
    if (m_updates.isDevelopmentBuild()) {
        m_updates.urlOpener().openUrl(QUrl(platform::buildSettings().releasePageUrl));
        return;
    }
    // The controller's state at the moment of the click decides, not what was rendered.
    if (!m_updates.updateAvailable()) {
        m_updates.refreshUpdateInformation();
    } else if (m_updates.canCheckForUpdates()) {
        if (QWidget *window = m_updates.updateWindow())
            window->hide();
        m_updates.controller().checkForUpdates();
    }
}

void UpdateCheckView::automaticChecksClicked(bool on)
{
    m_updates.setAutomaticallyChecksForUpdates(on);
    // The engine may have refused: spring back to what it holds even when nothing changed.
    render();
}

} // namespace velmora::updates
