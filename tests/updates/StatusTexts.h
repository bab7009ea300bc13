#pragma once

// The update window's status lines as the user must see them, written out in full so the
// tests check the texts themselves rather than the constants the code uses.

#include <QString>

namespace velmora::test {

inline const QString initialStatus = QString::fromUtf8("새 버전을 확인합니다.");
inline const QString developmentStatus = QString::fromUtf8(
    "개발용 앱입니다. 배포 버전은 릴리스 페이지에서 확인할 수 있습니다.");
inline const QString preparingStatus = QString::fromUtf8("업데이트 확인을 준비하고 있습니다…");
inline const QString checkingStatus = QString::fromUtf8("업데이트를 확인하고 있습니다…");
inline const QString upToDateStatus = QString::fromUtf8("최신 버전을 사용하고 있습니다.");
inline const QString failedStatus = QString::fromUtf8("업데이트를 확인하지 못했습니다. 잠시 후 다시 시도해 주세요.");

inline QString foundStatus(const QString &version)
{
    return QStringLiteral("v") + version + QString::fromUtf8(" 업데이트가 있습니다.");
}

} // namespace velmora::test
