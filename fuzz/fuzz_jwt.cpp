// JWT reading from the bytes the keyring holds: the token store decodes them as strict UTF-8,
// then the expiry and the subject are read without verifying anything.

#include "FuzzSupport.h"

#include "core/StrictUtf8.h"
#include "store/JWT.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<QString> token = StrictUtf8::decode(FuzzSupport::bytes(data, size));
    if (!token)
        return 0;
    if (const std::optional<QDateTime> expiry = JWT::expiry(*token))
        FuzzSupport::check(expiry->isValid(), "an expiry that is not a valid instant");
    (void)JWT::subject(*token);
    if (const std::optional<QByteArray> decoded = JWT::base64URLDecode(*token))
        FuzzSupport::check(decoded->size() <= token->size() / 4 * 3 + 3, "base64 decoded to more bytes than it can hold");
    return 0;
}
