#include "core/LeadingCharacters.h"

#include <QTextBoundaryFinder>

QString leadingCharacters(const QString &text, qsizetype count)
{
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype taken = 0; taken < count; ++taken) {
        const qsizetype next = characters.toNextBoundary();
        if (next < 0)
            break;
        end = next;
    }
    return text.left(end);
}

qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (characters.toNextBoundary() > 0)
        ++count;
    return count;
}
