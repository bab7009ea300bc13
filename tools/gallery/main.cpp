// velmora-gallery [output-directory] [page-name...]
// Renders the registered pages (all of them, or the named ones) to PNG files.
#include "Gallery.h"

#include <QApplication>
#include <QFont>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // Pages that touch settings write them into a throw-away folder, never the user's own.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    const QStringList args = app.arguments().mid(1);
    velmora::gallery::Gallery gallery(args.value(0, QStringLiteral("gallery")));
    const QStringList only = args.mid(1);

    QTextStream out(stdout);
    for (const auto &page : velmora::gallery::pages()) {
        if (!only.isEmpty() && !only.contains(QString::fromUtf8(page.name)))
            continue;
        page.render(gallery);
        out << "rendered " << page.name << Qt::endl;
    }
    out << gallery.saved() << " pictures in " << gallery.outputDirectory() << Qt::endl;
    return 0;
}
