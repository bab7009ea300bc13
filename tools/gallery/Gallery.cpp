#include "Gallery.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

namespace velmora::gallery {

std::vector<Page> &pages()
{
    static std::vector<Page> all;
    return all;
}

void Gallery::save(QWidget &widget, const QString &name)
{
    widget.show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    QDir().mkpath(m_outputDirectory);
    widget.grab().save(m_outputDirectory + QLatin1Char('/') + name + QStringLiteral(".png"));
    ++m_saved;
}

} // namespace velmora::gallery
