#pragma once

#include <QWidget>

namespace velmora::widgets {

// Text of a few explicit lines, each centred, with extra room between the lines that QLabel
// cannot give. The text is the accessible name.
class CentredLinesLabel : public QWidget
{
    Q_OBJECT
public:
    explicit CentredLinesLabel(const QString &text, int lineSpacing, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_text;
    QStringList m_lines;
    int m_lineSpacing;
};

} // namespace velmora::widgets
