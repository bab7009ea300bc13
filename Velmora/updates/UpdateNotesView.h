#pragma once

#include "platform/UrlOpener.h"

#include <QTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QTextBrowser;

namespace velmora::updates {

class InlineMarkdownWriter;

// The release-notes box of the update window: a heading, then the notes, a loading row or a
// failure line. Loading wins over failure.
class UpdateNotesView : public QWidget
{
    Q_OBJECT
public:
    // Links in the notes open through opener.
    explicit UpdateNotesView(platform::UrlOpener &opener = platform::UrlOpener::system(), QWidget *parent = nullptr);
    ~UpdateNotesView() override;

    // Shows text (read as inline Markdown), or the loading row while loading, or the failure
    // line when failed.
    void setNotes(const QString &text, bool loading, bool failed);

    QString text() const { return m_text; }
    bool loading() const { return m_loading; }
    bool failed() const { return m_failed; }
    // Long notes are still being written into the text box, a slice per turn of the event loop.
    bool isFillingNotes() const { return m_writer != nullptr; }

    // The three alternatives, for views that embed the box and for tests.
    QWidget *loadingRow() const { return m_loadingRow; }
    QLabel *failureLine() const { return m_failureLine; }
    QTextBrowser *notesText() const { return m_notesText; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void render();
    void fillNotes();

    platform::UrlOpener &m_opener;
    QString m_text;
    bool m_loading = false;
    bool m_failed = false;
    QWidget *m_loadingRow = nullptr;
    QLabel *m_failureLine = nullptr;
    QTextBrowser *m_notesText = nullptr;
    std::unique_ptr<InlineMarkdownWriter> m_writer;
    QTimer m_fillTimer;
};

} // namespace velmora::updates
