// Gallery pages of the full disk access screens: the drag tile, the guide panel and the
// assistant panel.
#include "Gallery.h"

#include "access/AppBundleDragView.h"
#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGuide.h"
#include "access/GuideButtonStyle.h"
#include "platform/SettingsOpener.h"
#include "platform/WindowList.h"

#include <QHBoxLayout>
#include <QUrl>
#include <QVBoxLayout>

using namespace velmora::access;

namespace {
const QUrl bundle = QUrl::fromLocalFile(QStringLiteral("/opt/Velmora"));
}

VELMORA_GALLERY_PAGE("access-drag-tile")
{
    // The tile as the guide lays it out: the panel's width less its margins, 140 high.
    QWidget frame;
    frame.setPalette(QPalette(FullDiskAccessGuide::background));
    frame.setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(24, 24, 24, 24);
    auto *tile = new AppBundleDragTile(bundle, &frame);
    tile->setFixedSize(308, 140);
    layout->addWidget(tile);
    gallery.save(frame, QStringLiteral("access-drag-tile"));
}

VELMORA_GALLERY_PAGE("access-guide")
{
    FullDiskAccessGuide guide(bundle, {}, {});
    guide.resize(356, 410);
    gallery.save(guide, QStringLiteral("access-guide"));

    // Pressed buttons are drawn at 75 % opacity.
    guide.reopenButton()->setDown(true);
    guide.doneButton()->setDown(true);
    gallery.save(guide, QStringLiteral("access-guide-pressed"));

    FullDiskAccessGuide wide(bundle, {}, {});
    wide.resize(520, 410);
    gallery.save(wide, QStringLiteral("access-guide-wide"));
}

VELMORA_GALLERY_PAGE("access-guide-buttons")
{
    QWidget row;
    row.setPalette(QPalette(FullDiskAccessGuide::background));
    row.setAutoFillBackground(true);
    auto *layout = new QHBoxLayout(&row);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(new GuideButton(QStringLiteral("권한 설정하기"), true, &row));
    layout->addWidget(new GuideButton(QStringLiteral("다시 확인"), false, &row));
    layout->addWidget(new GuideButton(QStringLiteral("확인 중…"), false, &row));
    gallery.save(row, QStringLiteral("access-guide-buttons"));
}

VELMORA_GALLERY_PAGE("access-assistant")
{
    // The panel as the assistant makes it, without opening any settings.
    struct NoSettings : velmora::platform::SettingsOpener
    {
        bool openPrivacySettings() override { return false; }
    } settings;
    velmora::platform::WindowList noWindows;
    FullDiskAccessAssistant::Dependencies deps;
    deps.appURL = bundle;
    deps.settingsOpener = &settings;
    deps.windowList = &noWindows;
    FullDiskAccessAssistant assistant(deps);
    gallery.save(*assistant.window(), QStringLiteral("access-assistant"));
}
