// Startup screens of the main window, each at the window's default size.
#include "Gallery.h"

#include "app/AccessCheckProgressView.h"
#include "app/StartupFailureView.h"
#include "app/StartupProgressView.h"

#include <QUrl>

using namespace velmora::app;

namespace {
constexpr QSize windowSize(1480, 900);
const char *const openingStatus = "Velmora를 여는 중…";
} // namespace

VELMORA_GALLERY_PAGE("startup-access-check")
{
    AccessCheckProgressView view;
    view.resize(windowSize);
    gallery.save(view, QStringLiteral("startup-access-check"));
}

VELMORA_GALLERY_PAGE("startup-progress")
{
    StartupProgressView view(QString::fromUtf8(openingStatus));
    view.resize(windowSize);
    gallery.save(view, QStringLiteral("startup-progress"));
}

VELMORA_GALLERY_PAGE("startup-failure")
{
    const QString error = QStringLiteral("백엔드가 준비되지 않았습니다. 로그를 확인한 뒤 다시 시도해 주세요.");
    StartupFailureView withoutLog;
    withoutLog.resize(windowSize);
    withoutLog.setError(error);
    gallery.save(withoutLog, QStringLiteral("startup-failure-without-log"));

    StartupFailureView withLog;
    withLog.resize(windowSize);
    withLog.setError(error);
    withLog.setLogURL(QUrl::fromLocalFile(QStringLiteral("/tmp/desktop.log")));
    gallery.save(withLog, QStringLiteral("startup-failure-with-log"));
}
