#include "core/LeadingCharacters.h"

QString leadingCharacters(const QString &text, qsizetype count)
{
    qsizetype end = 0;
    for (qsizetype characters = 0; end < text.size() && characters < count; ++characters)
        end += (text.at(end).isHighSurrogate() && end + 1 < text.size() && text.at(end + 1).isLowSurrogate()) ? 2 : 1;
    return text.left(end);
}
