#include "app/StartupFailureView.h"

#include "app/Texts.h"
#include "widgets/FailureSymbol.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora::app {

StartupFailureView::StartupFailureView(platform::UrlOpener &opener, QWidget *parent)
    : QWidget(parent)
    , m_opener(opener)
    , m_heading(new QLabel(failureTitle, this))
    , m_errorLabel(new QLabel(this))
    , m_alternativeButton(new QPushButton(this))
    , m_openLogButton(new QPushButton(openLogTitle, this))
{
    auto *symbol = new widgets::FailureSymbol(this);

    QFont headingFont = m_heading->font();
    headingFont.setPixelSize(17);
    m_heading->setFont(headingFont);
    m_heading->setTextFormat(Qt::PlainText);

    QFont bodyFont = m_errorLabel->font();
    bodyFont.setPixelSize(13);
    m_errorLabel->setFont(bodyFont);
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_errorLabel->setTextFormat(Qt::PlainText);
    m_errorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto *retryButton = new QPushButton(retryTitle, this);
    retryButton->setObjectName(QStringLiteral("startup-retry"));
    // The screen's one action: focused when the screen shows, and Enter presses it.
    retryButton->setAutoDefault(true);
    setFocusProxy(retryButton);
    connect(retryButton, &QPushButton::clicked, this, &StartupFailureView::retryRequested);
    connect(m_openLogButton, &QPushButton::clicked, this, &StartupFailureView::openLog);
    m_openLogButton->setVisible(false);
    connect(m_alternativeButton, &QPushButton::clicked, this, &StartupFailureView::alternativeRequested);
    m_alternativeButton->setVisible(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(18);
    layout->addStretch(1);
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    layout->addWidget(m_heading, 0, Qt::AlignHCenter);
    // The error spans the width so that a long text wraps there, each line centred.
    layout->addWidget(m_errorLabel);
    layout->addWidget(retryButton, 0, Qt::AlignHCenter);
    layout->addWidget(m_alternativeButton, 0, Qt::AlignHCenter);
    layout->addWidget(m_openLogButton, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

QString StartupFailureView::title() const
{
    return m_heading->text();
}

void StartupFailureView::setTitle(const QString &title)
{
    m_heading->setText(title);
}

void StartupFailureView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}

void StartupFailureView::setError(const QString &error)
{
    if (m_error == error)
        return;
    m_error = error;
    m_errorLabel->setText(error);
    m_errorLabel->setAccessibleName(error);
    emit errorChanged();
}

void StartupFailureView::setLogURL(const QUrl &logURL)
{
    if (m_logURL == logURL)
        return;
    m_logURL = logURL;
    // A hidden widget takes no room in the layout, so the spacing stays as if it never was.
    m_openLogButton->setVisible(!logURL.isEmpty());
    emit logURLChanged();
}

void StartupFailureView::setAlternative(const QString &title)
{
    m_alternativeButton->setText(title);
    m_alternativeButton->setVisible(!title.isEmpty());
}

void StartupFailureView::openLog()
{
    // The log is handed to the user's default application; Velmora never reads it itself.
    if (!m_logURL.isEmpty())
        m_opener.openUrl(m_logURL);
}

} // namespace velmora::app
