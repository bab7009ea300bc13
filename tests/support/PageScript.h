#pragma once

#include "TestSupport.h"

#include <QTest>
#include <QVariant>
#include <QWebEnginePage>

#include <memory>

namespace velmora::test {

// Runs a script in the page's main world and waits for its value (at most patience; a script
// that does not answer gives an invalid value and a warning that names it).
inline QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    struct Result
    {
        bool done = false;
        QVariant value;
    };
    auto result = std::make_shared<Result>();
    page->runJavaScript(script, [result](const QVariant &v) {
        result->value = v;
        result->done = true;
    });
    if (!QTest::qWaitFor([&] { return result->done; }, patience))
        qWarning("script did not answer: %s", qPrintable(script));
    return result->value;
}

} // namespace velmora::test
