#include "platform/Alert.h"

#include <QMessageBox>

namespace velmora::platform {

void Alert::show(const QString &message, const QString &informativeText, QWidget *window)
{
    auto *alert = new QMessageBox(QMessageBox::Warning, QString(), message, QMessageBox::Ok, window);
    alert->setObjectName(QStringLiteral("velmora.alert"));
    alert->setInformativeText(informativeText);
    alert->setDefaultButton(QMessageBox::Ok);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    // Modal for the whole application, without a nested event loop: the caller (often a
    // handler of the web engine) returns at once.
    alert->setWindowModality(Qt::ApplicationModal);
    alert->show();
}

Alert &Alert::system()
{
    static Alert alert;
    return alert;
}

} // namespace velmora::platform
