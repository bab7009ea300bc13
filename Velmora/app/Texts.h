#pragma once

// Every text the application shell shows, each standing once.

#include <QString>

namespace velmora::app {

// Startup screens.
inline const QString accessCheckLabel = QStringLiteral("접근 권한을 확인하고 있어요");
inline const QString openingStatus = QStringLiteral("Velmora를 여는 중…");
inline const QString failureTitle = QStringLiteral("Velmora를 시작하지 못했어요");
inline const QString retryTitle = QStringLiteral("다시 시도");
inline const QString openLogTitle = QStringLiteral("로그 보기");

} // namespace velmora::app
