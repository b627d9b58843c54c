// test-labels: foundation
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Include {
    QString file; // relative to the source tree
    QString target;
};

QList<Include> quotedIncludes(const QStringList &folders)
{
    static const QRegularExpression include(u"^\\s*#\\s*include\\s*\"([^\"]+)\""_s, QRegularExpression::MultilineOption);
    const QDir root(QStringLiteral(MURLEX_SOURCE_DIR));
    QList<Include> found;
    for (const QString &folder : folders) {
        QDirIterator it(root.filePath(folder), {u"*.h"_s, u"*.cpp"_s}, QDir::Files, QDirIterator::Subdirectories);
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

// Fails the test with every include that `breaks` the rule.
void verifyNone(const QList<Include> &includes, const std::function<bool(const Include &)> &breaks)
{
    QStringList lines;
    for (const Include &include : includes)
        if (breaks(include))
            lines << include.file + u" includes "_s + include.target;
    QVERIFY2(lines.isEmpty(), qPrintable(lines.join(u'\n')));
}

} // namespace

class TestLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theGroundIncludesOnlyItself()
    {
        const QList<Include> includes = quotedIncludes({u"src/core"_s});
        QVERIFY(!includes.isEmpty());
        verifyNone(includes, [](const Include &i) { return !i.target.startsWith("core/"_L1); });
    }

    void platformImplementationsAreReachedOnlyThroughTheEntry()
    {
        const QList<Include> includes = quotedIncludes({u"src"_s, u"tests"_s, u"bench"_s, u"tools"_s, u"devserver"_s});
        // The scan sees the implementations' own includes, so an empty result means something.
        QVERIFY(std::any_of(includes.begin(), includes.end(), [](const Include &i) {
            return i.target.startsWith("platform/linux/"_L1);
        }));
        verifyNone(includes, [](const Include &i) {
            return i.target.startsWith("platform/linux/"_L1) && !i.file.startsWith("src/platform/linux/"_L1);
        });
    }

    void belowAppOnlyTheLoggerIsIncludedFromApp()
    {
        verifyNone(quotedIncludes({u"src"_s}), [](const Include &i) {
            return i.target.startsWith("app/"_L1) && i.target != "app/AppLogger.h"_L1 && !i.file.startsWith("src/app/"_L1)
                && !i.file.startsWith("src/ui/"_L1);
        });
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
