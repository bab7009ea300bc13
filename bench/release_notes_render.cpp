// How long the update window's notes box takes to show release notes, for notes of every
// shape the network could send up to the size the load accepts (262 144 bytes).
//
// For each input it times UpdateNotesView::setNotes() (the inline Markdown reading, the first
// slice of the document and its layout), the first paint of the shown box (QWidget::grab()),
// the longest turn of the event loop while later slices are written, and the time until the
// notes are complete. The render time is the longest of the first three: the longest the main
// thread is held at once. Inputs are built to hit the reader's weak spots: long runs of one marker,
// openers that never close, brackets, code-span backticks of many lengths, escapes, line feeds,
// and a deterministic random mix of all of them.
//
// bench_release_notes_render [max-chars] [runs] [name]
//   max-chars  size of each input (default 262144, the load's limit)
//   runs       timed runs per input; the best and the worst are printed (default 3)
//   name       only the inputs whose name contains this text
#include "updates/UpdateNotesView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextBrowser>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using namespace velmora;

namespace {

struct Input
{
    const char *name;
    QString text;
};

QString repeatTo(const QString &unit, qsizetype size)
{
    QString text;
    text.reserve(size);
    while (text.size() + unit.size() <= size)
        text += unit;
    return text;
}

// Backtick runs of growing length, each used once, so every opener searches for a closer.
QString backtickStaircase(qsizetype size)
{
    QString text;
    for (int length = 1; text.size() + length + 1 <= size; ++length) {
        text += QString(length, u'`');
        text += u'a';
    }
    return text;
}

QString randomMarkdown(qsizetype size)
{
    static const char16_t alphabet[] = u"**__~~``[]()\\\n  ab#-:/.";
    const int letters = int(std::size(alphabet)) - 1;
    quint32 state = 0x2545F491u;
    QString text;
    text.reserve(size);
    while (text.size() < size) {
        state = state * 1664525u + 1013904223u;
        text += QChar(alphabet[(state >> 16) % letters]);
    }
    return text;
}

QString realisticNotes(qsizetype size)
{
    const QString entry = QString::fromUtf8(
        "**새 기능**\n- 녹음 파일을 끌어다 놓아 바로 변환할 수 있습니다.\n"
        "- 자막 파일(`.srt`, `.vtt`)을 함께 저장합니다. [안내](https://velmora.app/help)\n\n"
        "**개선**\n- 긴 녹음의 변환 속도가 *훨씬* 빨라졌습니다. ~~이전 제한~~\n"
        "# 제목처럼 보이는 줄도 그대로 표시됩니다.\n\n");
    return repeatTo(entry, size);
}

std::vector<Input> inputs(qsizetype size)
{
    return {
        {"stars", QString(size, u'*')},
        {"underscores", QString(size, u'_')},
        {"tildes", QString(size, u'~')},
        {"open brackets", QString(size, u'[')},
        {"close brackets", QString(size, u']')},
        {"backticks", QString(size, u'`')},
        {"line feeds", QString(size, u'\n')},
        {"emphasis '*a* '", repeatTo(QStringLiteral("*a* "), size)},
        {"strong '**a** '", repeatTo(QStringLiteral("**a** "), size)},
        {"openers '*a '", repeatTo(QStringLiteral("*a "), size)},
        {"closers 'a* '", repeatTo(QStringLiteral("a* "), size)},
        {"mixed openers '*_'", repeatTo(QStringLiteral("*_a"), size)},
        {"unclosed links '[a]('", repeatTo(QStringLiteral("[a]("), size)},
        {"links '[a](b) '", repeatTo(QStringLiteral("[a](b) "), size)},
        {"nested brackets '[[a]'", repeatTo(QStringLiteral("[[a]"), size)},
        {"code '`a` '", repeatTo(QStringLiteral("`a` "), size)},
        {"backtick staircase", backtickStaircase(size)},
        {"escapes '\\*'", repeatTo(QStringLiteral("\\*"), size)},
        {"lines 'a\\n'", repeatTo(QStringLiteral("a\n"), size)},
        {"random mix", randomMarkdown(size)},
        {"realistic notes", realisticNotes(size)},
    };
}

// Thread CPU time: what the main thread itself spent, whatever else the machine is doing.
double cpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Timing
{
    double wall = 0;
    double cpu = 0;
};

// Runs step and times it.
Timing timed(const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = cpuMilliseconds();
    step();
    return {clock.nsecsElapsed() / 1e6, cpuMilliseconds() - cpu};
}

struct Measure
{
    Timing setNotes; // the call itself: reading, the first slice and its layout
    Timing paint;    // the first paint of the shown box right after it
    Timing longest;  // the longest turn of the event loop until the notes are complete
    Timing complete; // from the call until every slice is written and laid out
    int turns = 0;
};

Measure measure(QApplication &app, const QString &text)
{
    Measure m;
    updates::UpdateNotesView view;
    view.resize(472, 260);
    view.show();
    app.processEvents();

    QElapsedTimer total;
    total.start();
    const double totalCpu = cpuMilliseconds();
    m.setNotes = timed([&] { view.setNotes(text, false, false); });
    m.paint = timed([&] { view.grab(); });
    // Every turn until the writer is done, then one more for layout steps it left queued.
    for (int extra = 0; view.isFillingNotes() || extra < 2; extra += view.isFillingNotes() ? 0 : 1) {
        const Timing turn = timed([&] { app.processEvents(); });
        ++m.turns;
        if (turn.wall > m.longest.wall)
            m.longest = turn;
    }
    // Whatever layout is still pending, done at once: counted as one more turn.
    const Timing rest = timed([&] { view.notesText()->document()->size(); });
    if (rest.wall > m.longest.wall)
        m.longest = rest;
    m.complete = {total.nsecsElapsed() / 1e6, cpuMilliseconds() - totalCpu};
    return m;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype size = args.size() > 1 ? args.at(1).toLongLong() : 262144;
    const int runs = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 3;
    const QString only = args.size() > 3 ? args.at(3) : QString();

    std::printf("input size %lld characters, worst of %d runs per input; wall ms (thread CPU ms)\n",
                static_cast<long long>(size), runs);
    std::printf("%-26s %17s %17s %17s %19s %6s\n", "input", "setNotes", "first paint", "longest turn", "until complete",
                "turns");

    double largest = 0;
    QString largestWhat;
    for (const Input &input : inputs(size)) {
        if (!QString::fromLatin1(input.name).contains(only))
            continue;
        Measure worst;
        for (int run = 0; run < runs; ++run) {
            const Measure m = measure(app, input.text);
            auto keepWorse = [](Timing &kept, const Timing &t) {
                if (t.wall > kept.wall)
                    kept = t;
            };
            keepWorse(worst.setNotes, m.setNotes);
            keepWorse(worst.paint, m.paint);
            keepWorse(worst.longest, m.longest);
            keepWorse(worst.complete, m.complete);
            worst.turns = std::max(worst.turns, m.turns);
        }
        std::printf("%-26s %7.1f (%7.1f) %7.1f (%7.1f) %7.1f (%7.1f) %8.1f (%8.1f) %6d\n", input.name, worst.setNotes.wall,
                    worst.setNotes.cpu, worst.paint.wall, worst.paint.cpu, worst.longest.wall, worst.longest.cpu,
                    worst.complete.wall, worst.complete.cpu, worst.turns);
        std::fflush(stdout);
        // The render time: the longest the main thread is held at once.
        for (const auto &[timing, what] : {std::pair{worst.setNotes, "setNotes"}, std::pair{worst.paint, "first paint"},
                                           std::pair{worst.longest, "longest turn"}}) {
            if (timing.wall > largest) {
                largest = timing.wall;
                largestWhat = QStringLiteral("%1, %2").arg(QLatin1String(input.name), QLatin1String(what));
            }
        }
    }
    std::printf("largest render time (longest hold of the main thread): %.1f ms (%s)\n", largest, qPrintable(largestWhat));
    return 0;
}
