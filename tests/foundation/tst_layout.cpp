// test-labels: foundation
// The include rules that keep the layers apart, read from the source tree: the ground includes
// nothing of src/ outside itself; only platform/linux/ reaches its own headers (everyone else goes
// through platform/Platform.h); nothing below app/ includes more of app/ than AppLogger.h.
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

struct Include {
    QString file; // relative to the source tree
    QString target;
};

QList<Include> quotedIncludes(const QStringList &folders)
{
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*\"([^\"]+)\""),
                                            QRegularExpression::MultilineOption);
    const QDir root(QStringLiteral(MURLEX_SOURCE_DIR));
    QList<Include> found;
    for (const QString &folder : folders) {
        QDirIterator it(root.filePath(folder), {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(file.readAll());
            for (auto match = include.globalMatch(text); match.hasNext();)
                found.append({root.relativeFilePath(file.fileName()), match.next().captured(1)});
        }
    }
    return found;
}

QStringList violations(const QList<Include> &includes, const std::function<bool(const Include &)> &breaks)
{
    QStringList lines;
    for (const Include &include : includes)
        if (breaks(include))
            lines << include.file + QStringLiteral(" includes ") + include.target;
    return lines;
}

} // namespace

class TestLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theGroundIncludesOnlyItself()
    {
        const QList<Include> includes = quotedIncludes({QStringLiteral("src/core")});
        QVERIFY(!includes.isEmpty());
        const QStringList found = violations(includes, [](const Include &i) {
            return !i.target.startsWith(QLatin1String("core/"));
        });
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
    }

    void platformImplementationsAreReachedOnlyThroughTheEntry()
    {
        const QList<Include> includes = quotedIncludes({QStringLiteral("src"), QStringLiteral("tests"),
                                                        QStringLiteral("bench"), QStringLiteral("tools"),
                                                        QStringLiteral("devserver")});
        // The scan sees the implementations' own includes, so an empty result means something.
        QVERIFY(std::any_of(includes.begin(), includes.end(), [](const Include &i) {
            return i.target.startsWith(QLatin1String("platform/linux/"));
        }));
        const QStringList found = violations(includes, [](const Include &i) {
            return i.target.startsWith(QLatin1String("platform/linux/"))
                && !i.file.startsWith(QLatin1String("src/platform/linux/"));
        });
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
    }

    void belowAppOnlyTheLoggerIsIncludedFromApp()
    {
        const QList<Include> includes = quotedIncludes({QStringLiteral("src")});
        const QStringList found = violations(includes, [](const Include &i) {
            return i.target.startsWith(QLatin1String("app/")) && i.target != QLatin1String("app/AppLogger.h")
                && !i.file.startsWith(QLatin1String("src/app/")) && !i.file.startsWith(QLatin1String("src/ui/"));
        });
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
