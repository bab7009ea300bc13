// The floor of Velmora's own stack: the same backend and a plain QWebEngineView on its page,
// both started at once, nothing else (no access check, no probe of who answers, no window
// around the view). Run as the benchmark runs Velmora: VELMORA_DESKTOP_PORT names the port,
// the argument the project root whose scripts/run-app.sh starts the backend.
#include <QApplication>
#include <QTcpSocket>
#include <QTimer>
#include <QWebEngineView>

#include <csignal>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char *argv[])
{
    const QByteArray port = qgetenv("VELMORA_DESKTOP_PORT");
    qputenv("VELMORA_DESKTOP_HOST", "127.0.0.1");
    qputenv("VELMORA_DESKTOP_PARENT_PID", QByteArray::number(::getpid()));
    const QByteArray script = QByteArray(argc > 1 ? argv[1] : ".") + "/scripts/run-app.sh";
    char *backendArgv[] = {const_cast<char *>("/bin/bash"), const_cast<char *>(script.constData()), nullptr};
    pid_t backend = 0;
    ::posix_spawn(&backend, "/bin/bash", nullptr, nullptr, backendArgv, environ);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWebEngineView view;
    view.resize(1480, 900);
    view.show();
    // The page is asked for the moment the backend's port accepts a connection.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port.toUInt()));
        if (!probe.waitForConnected(5))
            return;
        poll.stop();
        view.load(QUrl(QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(port) + QLatin1Char('/')));
    });
    poll.start(10);
    const int status = app.exec();
    ::kill(backend, SIGTERM);
    return status;
}
