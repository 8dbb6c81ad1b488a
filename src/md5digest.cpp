#include "md5digest.h"

#include <openssl/evp.h>

Md5Digest::Md5Digest()
    : context(EVP_MD_CTX_new())
{
    if (context)
        EVP_DigestInit_ex(context, EVP_md5(), nullptr);
}

Md5Digest::~Md5Digest()
{
    EVP_MD_CTX_free(context);
}

void Md5Digest::addData(const char *data, qint64 length)
{
    if (context && length > 0)
        EVP_DigestUpdate(context, data, size_t(length));
}

// Empty when the library could not set up a digest, which the caller treats
// like an unreadable image rather than announcing a wrong digest.
QByteArray Md5Digest::hexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context || EVP_DigestFinal_ex(context, digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}
