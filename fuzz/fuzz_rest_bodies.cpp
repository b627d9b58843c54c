// REST answers: the auth exchange and refresh answers, the hot words list and add answers, and
// the error bodies both clients carry as text (UTF-8 or nothing).

#include "FuzzSupport.h"

#include "core/StrictUtf8.h"
#include "net/APIError.h"
#include "net/AuthAnswer.h"
#include "net/AuthError.h"
#include "net/HotWordsAnswer.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = FuzzSupport::bytes(data, size);

    if (const auto signIn = AuthAnswer::signIn(body))
        FuzzSupport::check(AuthAnswer::refresh(body) == signIn->accessToken, "sign-in and refresh read another access token");
    (void)AuthAnswer::refresh(body);

    if (const auto words = HotWordsAnswer::list(body))
        FuzzSupport::check(words->size() <= body.size(), "more hot words than bytes");
    (void)HotWordsAnswer::saved(body);

    // An error body is kept as text only when it is UTF-8, and then exactly as sent.
    const std::optional<QString> text = StrictUtf8::decode(body);
    if (text)
        FuzzSupport::check(text->toUtf8() == body, "accepted UTF-8 does not give back its bytes");
    else
        FuzzSupport::check(QString::fromUtf8(body).toUtf8() != body, "valid UTF-8 refused");
    const QString carried = text.value_or(QString());
    (void)AuthError::http(401, carried).describe();
    (void)AuthError::http(500, carried).localizedDescription();
    (void)APIError::http(400, carried).localizedDescription();
    return 0;
}
