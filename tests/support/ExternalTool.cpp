#include "ExternalTool.h"

#include <QCoreApplication>
#include <QCursor>
#include <QProcess>
#include <QScrollArea>
#include <QTest>

std::optional<QByteArray> ExternalTool::run(const QString &program, const QStringList &arguments, int timeoutMs,
                                            const QProcessEnvironment &environment)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return std::nullopt;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

bool ExternalTool::xdotool(const QStringList &arguments)
{
    return run(QStringLiteral("xdotool"), arguments).has_value();
}

bool ExternalTool::click(const QWidget *widget, std::optional<QPoint> at)
{
    for (QWidget *up = widget->parentWidget(); up; up = up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up)) {
            area->ensureWidgetVisible(const_cast<QWidget *>(widget));
            QCoreApplication::processEvents();
            break;
        }
    }
    // `mousemove --sync` waits for a motion, and there is none when the pointer is there already.
    const QPoint target = widget->mapToGlobal(at.value_or(widget->rect().center()));
    if (QCursor::pos() != target
        && !xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(target.x()), QString::number(target.y())})) {
        qWarning("cannot move the pointer to %d,%d", target.x(), target.y());
        return false;
    }
    return xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

QMap<QString, QByteArray> ExternalTool::xClipboard()
{
    static const QStringList protocol = {QStringLiteral("TARGETS"), QStringLiteral("MULTIPLE"), QStringLiteral("TIMESTAMP"),
                                         QStringLiteral("SAVE_TARGETS")};
    const auto xclip = [](const QString &target) { return run(QStringLiteral("xclip"), {"-selection", "clipboard", "-o", "-t", target}); };
    QMap<QString, QByteArray> out;
    for (const QString &target : QString::fromUtf8(xclip(QStringLiteral("TARGETS")).value_or(QByteArray())).split(u'\n', Qt::SkipEmptyParts))
        if (!protocol.contains(target))
            out.insert(target, xclip(target).value_or(QByteArrayLiteral("<unreadable>")));
    return out;
}
