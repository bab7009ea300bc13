#pragma once

// Every text the backend supervisor shows, each the whole message of a failed start.

#include "platform/Process.h"

#include <QString>

#include <optional>

namespace velmora::backend {

// Launch plan and port. A moved development tree and a damaged installation are put right the
// way each system builds and installs Velmora: a build script and a disk image on macOS, the
// development start script and the package (or release archive) on Linux.
#ifdef Q_OS_MACOS
inline const QString scriptMissingMessage = QStringLiteral(
    "프로젝트 폴더를 옮겼다면 ./scripts/build-mac-app.sh 로 다시 빌드해 주세요.");
inline const QString interpreterMissingMessage = QStringLiteral(
    "앱 실행 파일이 누락됐습니다. 최신 DMG에서 앱 전체를 다시 복사해 주세요.");
#else
inline const QString scriptMissingMessage = QStringLiteral(
    "프로젝트 폴더를 옮겼다면 scripts/run.sh 로 다시 빌드해 실행해 주세요.");
inline const QString interpreterMissingMessage = QStringLiteral(
    "앱 실행 파일이 누락됐습니다. Velmora 패키지나 릴리스 압축 파일을 다시 설치해 주세요.");
#endif
inline const QString resourcesMissingMessage = QStringLiteral("앱 파일을 확인해 주세요.");
inline const QString portRangeMessage = QStringLiteral("VELMORA_DESKTOP_PORT는 1024~65535 범위의 포트여야 합니다.");
// Only reached when the platform names no user data folder at all.
inline const QString dataFolderMissingMessage = QStringLiteral(
    "사용자 데이터 폴더를 찾을 수 없습니다. 홈 폴더 설정을 확인해 주세요.");

// Start attempt.
// Another Velmora's backend kept the port.
inline const QString earlierInstanceMessage = QStringLiteral(
    "이전 Velmora 작업을 정리 중이거나 다른 앱이 실행 중입니다. 잠시 후 다시 시도해 주세요.");
// The launched backend exited before it was ready.
inline const QString backendExitedMessage = QStringLiteral("앱 실행 환경이 종료되었습니다. 로그 보기를 눌러 확인해 주세요.");
// The backend never answered as ours in time.
inline const QString backendNotReadyMessage = QStringLiteral("앱을 시작하지 못했습니다. 로그 보기를 눌러 확인해 주세요.");
// The task running the attempt was cancelled.
inline const QString startCancelledMessage = QStringLiteral("작업이 취소되었습니다.");

// A backend that was ready has gone: exited with a code or ended by a signal (status), or,
// adopted without a process to watch, stopped answering (no status).
inline QString backendLostMessage(std::optional<platform::ExitStatus> status)
{
    const QString sentence = QStringLiteral("백엔드가 예기치 않게 종료되었습니다");
    if (!status)
        return sentence + QStringLiteral(".");
    return sentence
           + (status->signalled ? QStringLiteral(" (신호 %1).") : QStringLiteral(" (종료 코드 %1).")).arg(status->code);
}

// Something that is not a healthy Velmora backend answers on port.
inline QString portInUseMessage(int port)
{
    return QStringLiteral("포트 ") + QString::number(port)
           + QStringLiteral("를 다른 앱이 사용 중입니다. VELMORA_DESKTOP_PORT를 바꿔 실행해 주세요.");
}

} // namespace velmora::backend
