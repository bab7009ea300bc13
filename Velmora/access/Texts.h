#pragma once

// Every text of the access gate, the access screen, the guide and the drag tile, each standing
// once.

#include <QString>

namespace velmora::access {

// Gate: shown after a relaunch that did not produce a new instance.
inline const QString relaunchFailedMessage = QStringLiteral("앱을 종료한 뒤 다시 실행해 주세요.");

// Access screen. Looked up as translation keys that fall back to themselves.
inline const QString productName = QStringLiteral("Velmora");
inline const QString accessHeading = QStringLiteral("전체 디스크 접근 권한을 허용해 주세요");
inline const QString accessDescription = QStringLiteral(
    "음성 메모와 기본 경로의 파일을 불러오고 저장하는 데 사용합니다.\n허용하면 앱을 시작합니다.");
inline const QString openSettingsTitle = QStringLiteral("권한 설정하기");
inline const QString recheckTitle = QStringLiteral("다시 확인");
inline const QString checkingTitle = QStringLiteral("확인 중…");
inline const QString restartTitle = QStringLiteral("앱 다시 시작");
// Shown as it stands, never translated.
inline const QString restartHint = QStringLiteral("설정 후에도 이 화면이 보이면 앱을 다시 시작하세요.");

// Guide panel.
inline const QString guideTitle = QStringLiteral("전체 디스크 접근 허용");
inline const QString guideSubtitle = QStringLiteral("앱을 찾지 않고, 여기서 바로 추가하세요.");
inline const QString guideFirstStep = QStringLiteral("위 아이콘을 설정의 앱 목록으로 드래그");
inline const QString guideSecondStep = QStringLiteral("Velmora 옆 스위치 켜기");
inline const QString guideFootnote = QStringLiteral("이미 목록에 있으면 스위치만 켜세요.");
inline const QString reopenSettingsTitle = QStringLiteral("설정 다시 열기");
inline const QString doneTitle = QStringLiteral("완료");

// Drag tile.
inline const QString tileAccessibilityLabel = QStringLiteral(
    "Velmora 앱 아이콘. 전체 디스크 접근 권한의 앱 목록으로 드래그하세요.");
inline const QString tileTooltip = QStringLiteral("이 아이콘을 시스템 설정의 앱 목록으로 드래그하세요.");
inline const QString tileDragHint = QStringLiteral("설정 목록으로 드래그 ↗");

} // namespace velmora::access
