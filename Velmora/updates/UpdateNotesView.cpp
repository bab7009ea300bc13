#include "updates/UpdateNotesView.h"

#include "updates/InlineMarkdownWriter.h"
#include "updates/Texts.h"
#include "updates/UpdateAppearance.h"
#include "widgets/BusySpinner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextBlockFormat>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace velmora::updates {
namespace {

constexpr int notesHeight = 190;
constexpr int extraLineSpacing = 5;
// Characters written into the notes per turn of the event loop: a few milliseconds of layout.
constexpr qsizetype fillSlice = 16384;

QPalette textPalette(const QColor &colour)
{
    QPalette palette;
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::Base, Qt::transparent);
    return palette;
}

} // namespace

UpdateNotesView::UpdateNotesView(platform::UrlOpener &opener, QWidget *parent) : QWidget(parent), m_opener(opener)
{
    setObjectName(QStringLiteral("update-release-notes"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(10);

    auto *heading = new QLabel(notesHeading, this);
    // Like every label of the update windows: text, never markup.
    heading->setTextFormat(Qt::PlainText);
    heading->setFont(appearance::systemFont(13, QFont::DemiBold));
    heading->setPalette(textPalette(appearance::label()));
    column->addWidget(heading);

    m_loadingRow = new QWidget(this);
    auto *row = new QHBoxLayout(m_loadingRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(new widgets::BusySpinner(appearance::activityIndicator(), m_loadingRow), 0, Qt::AlignVCenter);
    auto *loadingLabel = new QLabel(notesLoading, m_loadingRow);
    loadingLabel->setTextFormat(Qt::PlainText);
    loadingLabel->setFont(appearance::systemFont(12));
    loadingLabel->setPalette(textPalette(appearance::label()));
    row->addWidget(loadingLabel, 0, Qt::AlignVCenter);
    row->addStretch(1);
    column->addWidget(m_loadingRow);

    m_failureLine = new QLabel(notesFailed, this);
    m_failureLine->setTextFormat(Qt::PlainText);
    m_failureLine->setFont(appearance::systemFont(12));
    m_failureLine->setPalette(textPalette(appearance::secondaryLabel()));
    m_failureLine->setWordWrap(true);
    column->addWidget(m_failureLine);

    m_notesText = new QTextBrowser(this);
    m_notesText->setObjectName(QStringLiteral("update-release-notes-text"));
    m_notesText->setFixedHeight(notesHeight);
    m_notesText->setFrameShape(QFrame::NoFrame);
    m_notesText->setFont(appearance::systemFont(13));
    m_notesText->setPalette(textPalette(appearance::label()));
    m_notesText->viewport()->setAutoFillBackground(false);
    m_notesText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_notesText->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_notesText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                         | Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_notesText->setOpenLinks(false);
    m_notesText->document()->setDocumentMargin(0);
    m_notesText->document()->setDefaultFont(appearance::systemFont(13));
    connect(m_notesText, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
        // Notes are outside content: only web addresses are handed to the browser.
        if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
            m_opener.openUrl(url);
    });
    column->addWidget(m_notesText);

    m_fillTimer.setSingleShot(true);
    m_fillTimer.setInterval(0);
    connect(&m_fillTimer, &QTimer::timeout, this, &UpdateNotesView::fillNotes);

    render();
}

UpdateNotesView::~UpdateNotesView() = default;

void UpdateNotesView::setNotes(const QString &text, bool loading, bool failed)
{
    if (text == m_text && loading == m_loading && failed == m_failed)
        return;
    const bool textChanged = text != m_text;
    m_text = text;
    m_loading = loading;
    m_failed = failed;
    if (textChanged) {
        m_fillTimer.stop();
        m_writer.reset();
        QTextBlockFormat spacing;
        spacing.setLineHeight(extraLineSpacing, QTextBlockFormat::LineDistanceHeight);
        m_writer = std::make_unique<InlineMarkdownWriter>(*m_notesText->document(), m_text, spacing);
        fillNotes();
    }
    render();
}

void UpdateNotesView::fillNotes()
{
    // Notes of usual length are written at once; long ones a slice per turn of the event loop.
    if (!m_writer || m_writer->write(fillSlice)) {
        m_writer.reset();
        return;
    }
    m_fillTimer.start();
}

void UpdateNotesView::render()
{
    m_loadingRow->setVisible(m_loading);
    m_failureLine->setVisible(!m_loading && m_failed);
    m_notesText->setVisible(!m_loading && !m_failed);
}

void UpdateNotesView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(appearance::controlBackground());
    painter.drawRoundedRect(QRectF(rect()), 10, 10);
}

} // namespace velmora::updates
